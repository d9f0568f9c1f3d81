#include "walk/walk_ahead.h"

#include <algorithm>
#include <cassert>
#include <new>

#include "platform/path_rules.h"

namespace CX::Walk::Detail {

bool IsSeparator(char c) {
    return c == '/' || (CX::Platform::BackslashIsSeparator && c == '\\');
}

void Join(std::string& path, std::string_view name, char separator) {
    if (path.empty() || !IsSeparator(path.back())) {
        path += separator;
    }
    path += name;
}

void ListFolder(const char* pOpenPath, bool withSizes, bool withIdentities, FolderListing& out,
                CX::IO::DirectoryEntry& entry) {
    out.Names.clear();
    out.Items.clear();
    CX::IO::DirectoryListing listing(pOpenPath, withSizes, withIdentities);
    out.Opened = listing.IsOpen();
    if (!out.Opened) {
        out.Error = listing.GetError();
        return;
    }
    while (listing.Next(entry)) {
        out.Items.push_back(Item{static_cast<std::uint32_t>(out.Names.size()),
                                 static_cast<std::uint32_t>(entry.Name.size()), entry.Kind,
                                 entry.NameValid, entry.HasIdentity, entry.Size, entry.LastWrite,
                                 entry.Change, entry.Identity});
        out.Names += entry.Name;
    }
    // What was listed before a failure is still walked.
    out.Error = listing.GetError();
    const std::string& names = out.Names;
    std::sort(out.Items.begin(), out.Items.end(), [&names](const Item& a, const Item& b) {
        // char_traits<char> compares as unsigned char: byte order.
        return std::string_view(names.data() + a.Offset, a.Length) <
               std::string_view(names.data() + b.Offset, b.Length);
    });
}

ListingAhead::ListingAhead(unsigned listers, std::size_t window, bool withSizes,
                           bool withIdentities, IWalkAheadHooks* pHooks)
    : m_window(window),
      m_withSizes(withSizes),
      m_withIdentities(withIdentities),
      m_pHooks(pHooks),
      m_listers(listers) {}

// The listing threads start once a folder holds folders: a flat tree has nothing to list
// ahead, and a thread costs about as much as listing a small folder.
void ListingAhead::StartListers() {
    try {
        while (m_threads.size() < m_listers) {
            m_threads.emplace_back([this] { Lister(); });
        }
    } catch (const std::exception&) {
        // With fewer threads, or none, the walker lists what nobody has started.
        m_listers = static_cast<unsigned>(m_threads.size());
    }
}

ListingAhead::~ListingAhead() {
    Stop();
}

void ListingAhead::Stop() {
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_work.notify_all();
    for (std::thread& thread : m_threads) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

void ListingAhead::Begin(const std::string& openPath, char separator) {
    std::unique_lock<std::mutex> lock(m_lock);
    // A walk cut short (its sink threw) left folders behind: none is walked now.
    m_ready.wait(lock, [this] { return m_busy == 0; });
    m_nodes.clear();
    m_ahead = 0;
    m_separator = separator;
    // The walker lists the first folder itself, at once: the listing threads learn of
    // folders from it.
    m_nodes.emplace_back().OpenPath = openPath;
}

void ListingAhead::Take(const std::string& openPath, FolderListing& out) {
    std::unique_lock<std::mutex> lock(m_lock);
    assert(!m_nodes.empty() && m_nodes.front().OpenPath == openPath);
    Node& front = m_nodes.front();
    while (front.What != State::Ready) {
        if (front.What == State::Pending) {
            // Nobody has started it: listed here, for the walker now, outside the window.
            front.What = State::Listing;
            lock.unlock();
            if (m_pHooks != nullptr) {
                m_pHooks->Listing(openPath, true);
            }
            Nodes children;
            Prepare(front, children, m_entry);
            lock.lock();
            const bool more = !children.empty();
            m_nodes.splice(std::next(m_nodes.begin()), children);
            front.What = State::Ready;
            if (more) {
                StartListers();
                m_work.notify_all();
            }
            break;
        }
        // Another thread lists it: a later folder is listed here meanwhile, if the window
        // has room for it, or else the walker waits.
        const auto later = m_ahead < m_window ? FirstPending() : m_nodes.end();
        if (later != m_nodes.end()) {
            ListAheadOf(lock, later, true, m_entry);
            continue;
        }
        if (m_pHooks != nullptr) {
            lock.unlock();
            m_pHooks->Awaiting(openPath);
            lock.lock();
        }
        m_ready.wait(lock, [this, &front] {
            return front.What == State::Ready ||
                   (m_ahead < m_window && FirstPending() != m_nodes.end());
        });
    }
    std::swap(out, front.Listed);
    if (front.Ahead) {
        --m_ahead;
        m_work.notify_all();
    }
    m_nodes.pop_front();
}

ListingAhead::Nodes::iterator ListingAhead::FirstPending() {
    // Before the first one stand only nodes being listed or ready: a window's worth.
    return std::find_if(m_nodes.begin(), m_nodes.end(),
                        [](const Node& node) { return node.What == State::Pending; });
}

void ListingAhead::Prepare(Node& node, Nodes& children, CX::IO::DirectoryEntry& entry) {
    FolderListing& listed = node.Listed;
    try {
        ListFolder(node.OpenPath.c_str(), m_withSizes, m_withIdentities, listed, entry);
        for (const Item& item : listed.Items) {
            if (item.Kind == CX::IO::EntryKind::Directory && item.NameValid) {
                std::string& path = children.emplace_back().OpenPath;
                path = node.OpenPath;
                Join(path, std::string_view(listed.Names.data() + item.Offset, item.Length),
                     m_separator);
            }
        }
    } catch (const std::bad_alloc&) {
        // The walker enters every subfolder of a listing: one whose subfolders are not all
        // known is not walked.
        children.clear();
        listed.Names.clear();
        listed.Items.clear();
        listed.Opened = false;
        listed.Error = ERROR_NOT_ENOUGH_MEMORY;
    }
}

void ListingAhead::ListAheadOf(std::unique_lock<std::mutex>& lock, Nodes::iterator node,
                               bool byWalker, CX::IO::DirectoryEntry& entry) {
    node->What = State::Listing;
    node->Ahead = true;
    ++m_ahead;
    ++m_busy;
    lock.unlock();
    if (m_pHooks != nullptr) {
        m_pHooks->Listing(node->OpenPath, byWalker);
    }
    Nodes children;
    Prepare(*node, children, entry);
    // Once ready, the walker may take the node away.
    const std::string told = m_pHooks != nullptr ? node->OpenPath : std::string();
    lock.lock();
    const bool more = !children.empty();
    m_nodes.splice(std::next(node), children);
    node->What = State::Ready;
    --m_busy;
    const std::size_t ahead = m_ahead;
    m_ready.notify_all();
    if (more) {
        m_work.notify_all();
    }
    if (m_pHooks != nullptr) {
        lock.unlock();
        m_pHooks->Listed(told, byWalker, ahead);
        lock.lock();
    }
}

void ListingAhead::Lister() {
    CX::IO::DirectoryEntry entry;
    std::unique_lock<std::mutex> lock(m_lock);
    bool toldFull = false;
    while (!m_stop) {
        const auto next = FirstPending();
        if (next == m_nodes.end()) {
            m_work.wait(lock);
            continue;
        }
        if (m_ahead >= m_window) {
            if (m_pHooks != nullptr && !toldFull) {
                toldFull = true;
                const std::size_t ahead = m_ahead;
                lock.unlock();
                m_pHooks->WindowFull(ahead);
                lock.lock();
                continue;
            }
            m_work.wait(lock);
            continue;
        }
        toldFull = false;
        ListAheadOf(lock, next, false, entry);
    }
}

}  // namespace CX::Walk::Detail
