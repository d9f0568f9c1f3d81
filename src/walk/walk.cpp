#include "walk/walk.h"

#include <algorithm>
#include <string_view>

#include "lines/reasons.h"
#include "walk/walk_ahead.h"

namespace CX::Walk {
namespace {

constexpr const char* NotRegular = "not a regular file; skipped";
constexpr const char* Loop = "File system loop detected; not followed";

using Detail::Join;

}  // namespace

TreeWalker::TreeWalker(bool followLinks, bool withSizes, bool withIdentities)
    : m_followLinks(followLinks), m_withSizes(withSizes), m_withIdentities(withIdentities) {}

TreeWalker::~TreeWalker() = default;

void TreeWalker::ListAhead(unsigned threads, std::size_t window, IWalkAheadHooks* pHooks) {
    m_ahead.reset();
    if (m_followLinks || threads <= 1 || window == 0) {
        return;
    }
    try {
        m_ahead = std::make_unique<Detail::ListingAhead>(threads - 1, window, m_withSizes,
                                                         m_withIdentities, pHooks);
    } catch (const std::exception&) {
        // No thread to be had: the walk lists as it goes, as with one.
        m_ahead.reset();
    }
}

void TreeWalker::Walk(const std::string& name, const std::string& openPath, IWalkSink& sink) {
    m_name = name;
    m_open = openPath;
    m_depth = 0;
    // A verbatim path goes to the system unparsed: only a backslash separates there.
    const char openSeparator = openPath.rfind("\\\\?\\", 0) == 0 ? '\\' : '/';
    if (m_ahead != nullptr) {
        m_ahead->Begin(openPath, openSeparator);
    }
    Enter(0, sink);

    while (m_depth > 0) {
        Frame& frame = m_frames[m_depth - 1];
        if (frame.Next == frame.Listed.Items.size()) {
            --m_depth;
            continue;
        }
        const Item item = frame.Listed.Items[frame.Next++];
        const std::string_view entry(frame.Listed.Names.data() + item.Offset, item.Length);
        m_name.resize(frame.NameLength);
        m_open.resize(frame.OpenLength);
        Join(m_name, entry, '/');
        Join(m_open, entry, openSeparator);

        if (!item.NameValid) {
            // The name has no UTF-8 form: opening what it converts to would read another
            // file, so it is named (with U+FFFD) and left.
            sink.Problem(m_name, CX::Lines::NotUtf8);
            continue;
        }
        switch (item.Kind) {
            case CX::IO::EntryKind::File:
                if (!m_withIdentities) {
                    sink.File(m_name, m_open, item.Size);
                } else if (!item.HasIdentity) {
                    sink.ListedFile(m_name, m_open, nullptr);
                } else {
                    CX::IO::FileFacts facts;
                    facts.Size = item.Size;
                    facts.LastWrite = item.LastWrite;
                    facts.Change = item.Change;
                    facts.Identity = item.Identity;
                    sink.ListedFile(m_name, m_open, &facts);
                }
                break;
            case CX::IO::EntryKind::Other:
                sink.Skipped(m_name, NotRegular);
                break;
            case CX::IO::EntryKind::Directory:
                Enter(m_depth, sink);
                break;
            case CX::IO::EntryKind::Link: {
                if (!m_followLinks) {
                    break;
                }
                CX::IO::FileFacts facts;
                DWORD error = ERROR_SUCCESS;
                if (!CX::IO::QueryObject(m_open.c_str(), facts, error)) {
                    sink.Problem(m_name, CX::Lines::ReasonFor(error));
                } else if ((facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                    Enter(m_depth, sink);
                } else if ((facts.Attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
                    sink.Skipped(m_name, NotRegular);
                } else {
                    sink.File(m_name, m_open, m_withSizes ? facts.Size : 0);
                }
                break;
            }
        }
    }
}

void TreeWalker::Enter(std::size_t depth, IWalkSink& sink) {
    if (m_frames.size() <= depth) {
        m_frames.resize(depth + 1);
    }
    Frame& frame = m_frames[depth];
    if (m_followLinks) {
        CX::IO::FileFacts facts;
        DWORD error = ERROR_SUCCESS;
        if (!CX::IO::QueryObject(m_open.c_str(), facts, error)) {
            sink.Problem(m_name, CX::Lines::ReasonFor(error));
            return;
        }
        frame.Identity = facts.Identity;
        for (std::size_t i = 0; i < depth; ++i) {
            if (m_frames[i].Identity == frame.Identity) {
                sink.Problem(m_name, Loop);
                return;
            }
        }
    }
    if (!Load(frame, sink)) {
        return;
    }
    m_depth = depth + 1;
}

bool TreeWalker::Load(Frame& frame, IWalkSink& sink) {
    frame.Next = 0;
    frame.NameLength = m_name.size();
    frame.OpenLength = m_open.size();
    if (m_ahead != nullptr) {
        m_ahead->Take(m_open, frame.Listed);
    } else {
        Detail::ListFolder(m_open.c_str(), m_withSizes, m_withIdentities, frame.Listed, m_entry);
    }
    if (!frame.Listed.Opened) {
        sink.Problem(m_name, CX::Lines::ReasonFor(frame.Listed.Error));
        return false;
    }
    if (frame.Listed.Error != ERROR_NO_MORE_FILES) {
        // What was listed before the failure is still walked.
        sink.Problem(m_name, CX::Lines::ReasonFor(frame.Listed.Error));
    }
    return true;
}

}  // namespace CX::Walk
