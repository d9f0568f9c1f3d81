#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/directory_listing.h"
#include "io/path_query.h"

namespace CX::Walk {

// What a walk finds, in the order it finds it.
class IWalkSink {
public:
    virtual ~IWalkSink() {}
    // A file to identify: name as printed, openPath as opened. size is what the folder's
    // listing said (a link followed: its target's), when the walker was asked for sizes;
    // otherwise 0. It may be stale by the time the file is read.
    virtual void File(const std::string& name, const std::string& openPath, std::uint64_t size) = 0;
    // A file found in a folder whose listing was asked for identities: pFacts holds the size,
    // last-write and change times and identity it gave (no link count, no attributes), or is
    // null where it gave none. Facts that may be stale by the time anything else looks. A
    // sink that has no use for them takes the file as File does.
    virtual void ListedFile(const std::string& name, const std::string& openPath,
                            const CX::IO::FileFacts* pFacts) {
        File(name, openPath, pFacts != nullptr ? pFacts->Size : 0);
    }
    // Something that should have been walked or read and could not be: an error.
    virtual void Problem(const std::string& name, const char* reason) = 0;
    // Something deliberately left alone (a FIFO, a device): a note, no error.
    virtual void Skipped(const std::string& name, const char* reason) = 0;
};

// Where the threads that list folders ahead of a walk meet it: each call is made on the
// thread named, outside every lock of the walk, and may block (a test holds a thread there
// to force an interleaving). The product passes none.
class IWalkAheadHooks {
public:
    virtual ~IWalkAheadHooks() {}
    // The folder at openPath is about to be listed, on a listing thread or (byWalker) on the
    // walker's own.
    virtual void Listing(const std::string& openPath, bool byWalker) = 0;
    // Its listing is ready for the walker; ahead counts the listings now held or being made
    // ahead of the walker, this one included.
    virtual void Listed(const std::string& openPath, bool byWalker, std::size_t ahead) = 0;
    // The walker waits for the listing of openPath, which a listing thread is making.
    virtual void Awaiting(const std::string& openPath) = 0;
    // A listing thread has folders to list but the window is full: it sleeps until the
    // walker takes a listing.
    virtual void WindowFull(std::size_t ahead) = 0;
};

namespace Detail {

struct Item {
    std::uint32_t Offset;  // into the listing's name store
    std::uint32_t Length;
    CX::IO::EntryKind Kind;
    bool NameValid;
    bool HasIdentity;
    std::uint64_t Size;
    std::int64_t LastWrite;
    std::int64_t Change;
    CX::IO::FileIdentity Identity;
};

// One folder's entries, sorted by the bytes of their names, and how its listing ended.
struct FolderListing {
    std::string Names;
    std::vector<Item> Items;
    bool Opened = false;                // false: it could not be listed at all, for Error
    DWORD Error = ERROR_NO_MORE_FILES;  // why the listing ended: ERROR_NO_MORE_FILES when well
};

class ListingAhead;

}  // namespace Detail

// A depth-first walk of folders that streams: each folder's entries are read whole,
// sorted by the bytes of their UTF-8 names and visited in that order, so a tree gives the
// same list on every run and every machine. Memory holds one folder's names per level of
// depth, and with folders listed ahead a window of listings more, never the tree. Only files are
// handed on; FIFOs, sockets and devices are never opened. Links (and junctions) are neither
// followed nor listed, unless followLinks is set; then a folder already on the current path is a
// loop, reported once and not entered.
class TreeWalker {
public:
    // withSizes asks each folder's listing for its files' sizes: free on Windows, a call
    // per entry elsewhere, so only a mode that uses them asks. withIdentities asks for the
    // facts that tell a file from its past (ListedFile): a handle more per folder.
    explicit TreeWalker(bool followLinks, bool withSizes = false, bool withIdentities = false);
    ~TreeWalker();
    TreeWalker(const TreeWalker&) = delete;
    TreeWalker& operator=(const TreeWalker&) = delete;

    // Lists folders on up to threads threads (this one among them) ahead of the walk, in the
    // order it enters them, holding at most window listings it has not reached: the sink
    // still receives the same calls, in the same order, on the thread that walks. With one
    // thread, or with links followed (whose loops are told on the current path), the walk
    // lists each folder itself as it enters it. Called before the first walk.
    void ListAhead(unsigned threads, std::size_t window = DefaultWindow,
                   IWalkAheadHooks* pHooks = nullptr);
    static constexpr std::size_t DefaultWindow = 64;

    // Walks the folder named name (as printed) at openPath (as opened). A name is joined
    // to its folder's with '/', never doubling one the folder's name already ends with.
    void Walk(const std::string& name, const std::string& openPath, IWalkSink& sink);

private:
    using Item = Detail::Item;
    // One folder on the current path: its sorted entries and how far the walk has got.
    struct Frame {
        Detail::FolderListing Listed;
        std::size_t Next = 0;
        std::size_t NameLength = 0;  // of the folder's printed and opened paths
        std::size_t OpenLength = 0;
        CX::IO::FileIdentity Identity;
    };

    // Reads the folder at the current paths into frame; false (and a problem) when it
    // cannot be listed at all.
    bool Load(Frame& frame, IWalkSink& sink);
    // Enters the folder at the current paths, one level below depth; with links followed,
    // refuses one already on the path.
    void Enter(std::size_t depth, IWalkSink& sink);

    bool m_followLinks;
    bool m_withSizes;
    bool m_withIdentities;
    std::vector<Frame> m_frames;  // kept between walks, so their storage is reused
    std::size_t m_depth = 0;      // frames in use
    std::string m_name;
    std::string m_open;
    CX::IO::DirectoryEntry m_entry;
    std::unique_ptr<Detail::ListingAhead> m_ahead;  // null: each folder listed as entered
};

}  // namespace CX::Walk
