#pragma once

#include <condition_variable>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "walk/walk.h"

namespace CX::Walk::Detail {

bool IsSeparator(char c);

// Joins name to path with separator, never doubling one path already ends with.
void Join(std::string& path, std::string_view name, char separator);

// Lists the folder at pOpenPath into out, sorted by the bytes of the names; entry is scratch.
void ListFolder(const char* pOpenPath, bool withSizes, bool withIdentities, FolderListing& out,
                CX::IO::DirectoryEntry& entry);

// Lists folders on threads of its own, ahead of one walker, in the order it will enter them:
// depth first, each folder's subfolders in the order of its sorted entries. That order is
// only known as far as folders have been listed, so it is kept as a list of the folders
// known and not yet entered, each one's subfolders put right behind it once it is listed.
// A listing thread takes the first folder nobody lists, while fewer than window listings
// are held or being made ahead of the walker. The walker takes the listing at the front:
// ready, or being made (it then lists a later folder meanwhile, or waits), or not yet
// started (it lists it itself). So the folders held are the window's, and the subfolders
// still to come of the folders on the walker's path, whose names its frames hold already.
class ListingAhead {
public:
    ListingAhead(unsigned listers, std::size_t window, bool withSizes, bool withIdentities,
                 IWalkAheadHooks* pHooks);
    ~ListingAhead();  // stops the listing threads and waits for them

    ListingAhead(const ListingAhead&) = delete;
    ListingAhead& operator=(const ListingAhead&) = delete;

    // A walk begins at the folder at openPath, its subfolders' paths joined with separator.
    void Begin(const std::string& openPath, char separator);
    // The listing of the folder the walker enters now, at openPath: always the next one in
    // the order (the walker enters every subfolder it is told of, links aside).
    void Take(const std::string& openPath, FolderListing& out);

private:
    enum class State : unsigned char { Pending, Listing, Ready };
    struct Node {
        std::string OpenPath;
        State What = State::Pending;
        bool Ahead = false;  // counted in m_ahead: listed by a thread other than for the walker now
        FolderListing Listed;
    };
    using Nodes = std::list<Node>;

    void Lister();
    // Starts the listing threads not started yet; on the walker's thread, with the lock held.
    void StartListers();
    // Tells the listing threads to end, and waits for them.
    void Stop();
    // The first folder in the order that nobody lists yet; end() when none. Under the lock.
    Nodes::iterator FirstPending();
    // Lists a claimed node (not under the lock) and puts its subfolders, in order, into
    // children.
    void Prepare(Node& node, Nodes& children, CX::IO::DirectoryEntry& entry);
    // Lists node for a later turn of the walker: lock held on entry and on return.
    void ListAheadOf(std::unique_lock<std::mutex>& lock, Nodes::iterator node, bool byWalker,
                     CX::IO::DirectoryEntry& entry);

    const std::size_t m_window;
    const bool m_withSizes;
    const bool m_withIdentities;
    IWalkAheadHooks* const m_pHooks;
    char m_separator = '/';

    std::mutex m_lock;
    std::condition_variable m_work;   // listing threads: a folder to list, room, or stop
    std::condition_variable m_ready;  // the walker: a listing is ready
    Nodes m_nodes;                    // known folders not entered yet, in the walk's order
    std::size_t m_ahead = 0;          // nodes being listed or ready ahead of the walker
    std::size_t m_busy = 0;           // of those, being listed
    bool m_stop = false;
    CX::IO::DirectoryEntry m_entry;  // the walker's scratch
    unsigned m_listers;
    std::vector<std::thread> m_threads;  // the walker's alone
};

}  // namespace CX::Walk::Detail
