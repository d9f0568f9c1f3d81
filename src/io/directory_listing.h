#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "io/file_facts.h"
#include "platform/win32.h"

namespace CX::IO {

// What a folder entry is, as far as a walk cares, without following anything.
enum class EntryKind : std::uint8_t {
    File,       // a file with content to read
    Directory,  // a folder to walk into
    Link,       // a symbolic link, a junction or a mount point: it names something else
    Other,      // a FIFO, a socket, a device: reading it could hang or never end
};

struct DirectoryEntry {
    // UTF-8. When NameValid is false the system's name has no UTF-8 form (a lone surrogate
    // on Windows, bytes that are not UTF-8 on Linux) and Name holds U+FFFD in their place:
    // good for a message, never for opening.
    std::string Name;
    EntryKind Kind = EntryKind::File;
    bool NameValid = true;
    // With facts asked for: the entry's own size and last-write time (a link's own, never
    // its target's), in Windows' 100 ns units since 1601; otherwise 0.
    std::uint64_t Size = 0;
    std::int64_t LastWrite = 0;
    // With identities asked for, and where the folder could tell them: the entry's change
    // time and which file it is, compared equal with FactsOfHandle's for the same file.
    bool HasIdentity = false;
    std::int64_t Change = 0;
    FileIdentity Identity;
};

// The entries of one folder, read one at a time in the order the system gives them, "."
// and ".." left out. A folder path of MAX_PATH units or more that the system refuses is
// tried once more in its \\?\ form, as files are.
class DirectoryListing {
public:
    // pPath is the folder's NUL-terminated UTF-8 path. Whether it opened is told by IsOpen.
    // withFacts asks for each entry's size and time too; withIdentities for its change time
    // and identity as well, read through a handle on the folder, which costs a handle more
    // per folder (and nothing more per entry than sizes do elsewhere). Where the folder
    // cannot be listed that way, it is listed as without them and no entry has an identity.
    explicit DirectoryListing(const char* pPath, bool withFacts = false,
                              bool withIdentities = false);
    ~DirectoryListing();

    DirectoryListing(const DirectoryListing&) = delete;
    DirectoryListing& operator=(const DirectoryListing&) = delete;

    bool IsOpen() const { return m_hFind != nullptr || m_hFolder != nullptr; }

    // The next entry; false at the end or on a failure, which GetError then tells apart.
    bool Next(DirectoryEntry& entry);

    // ERROR_SUCCESS while the listing goes on, ERROR_NO_MORE_FILES once it ended well,
    // otherwise why it could not be opened or read on.
    DWORD GetError() const { return m_error; }

private:
    // Opens the listing through a handle on the folder; false, with nothing kept open, when
    // the folder or the system does not list that way.
    bool OpenByHandle(const char* pPath);
    // The next record of the folder's listing, fetching more as needed; null at the end or
    // on a failure (m_error).
    const FILE_ID_BOTH_DIR_INFO* NextRecord();

    HANDLE m_hFind = nullptr;    // null when not open
    HANDLE m_hFolder = nullptr;  // the folder listed by handle; null when not
    std::unique_ptr<std::uint64_t[]> m_records;
    std::uint32_t m_recordAt = 0;  // in bytes, into m_records
    bool m_recordsLeft = false;    // m_recordAt points at a record not handed out yet
    std::uint64_t m_volume = 0;
    WIN32_FIND_DATAW m_data;
    bool m_pending = false;  // m_data holds an entry not handed out yet
    bool m_withFacts = false;
    DWORD m_error = ERROR_SUCCESS;
};

// UTF-16 to UTF-8. False when the text holds a lone surrogate, which is then written as
// U+FFFD; the rest is converted all the same.
bool WideToUtf8(const WCHAR* pText, std::string& out);

}  // namespace CX::IO
