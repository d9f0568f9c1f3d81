#include "workers/identify.h"

#include "io/file_input_stream.h"
#include "io/path_query.h"
#include "io/std_input_stream.h"
#include "lines/names.h"
#include "workers/read_ahead.h"

namespace CX::Workers {

Identifier::Identifier(IReadObserver* observer)
    : m_observer(observer), m_buffer(new std::uint8_t[BlockSize]) {}

void Identifier::IdentifyPath(const char* pPath, Outcome& outcome,
                              const std::uint64_t* pExpectedLength, const IKnownFiles* known,
                              const CX::IO::FileFacts* pListed) {
    outcome.SizeDiffers = false;
    outcome.HasFacts = false;
    outcome.WasKnown = false;
    if (!CX::Lines::IsValidUtf8(pPath)) {
        // The path conversion would put U+FFFD in its place and open whatever file that
        // names: never an identifier under a name that is not the file's.
        outcome.What = Failure::Open;
        outcome.Error = ERROR_NO_UNICODE_TRANSLATION;
        return;
    }
    if (IReadObserver* progress = m_observer) {
        progress->Started(pPath);
    }
    if (known != nullptr) {
        // Before the open: a change after this moment gives the file later times.
        outcome.OpenedAfter = known->Now();
    }
    CX::IO::FileInputStream stream(pPath);
    if (!stream.IsOpen()) {
        outcome.Error = stream.GetOpenError();
        outcome.What = Failure::Open;
        // A folder is refused as access is (without backup semantics Windows opens none):
        // ask what it is only then, so that a file costs no extra call.
        if (outcome.Error == ERROR_ACCESS_DENIED) {
            const DWORD attributes = CX::IO::QueryAttributes(pPath);
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                outcome.What = Failure::IsDirectory;
            }
        }
        return;
    }
    std::uint64_t size = 0;
    // Only a disk file has a size that tells its length; anything else is read to its end.
    if (pExpectedLength != nullptr && stream.GetSize(&size).IsSuccess() &&
        size != *pExpectedLength) {
        outcome.What = Failure::None;
        outcome.Error = ERROR_SUCCESS;
        outcome.SizeDiffers = true;
        return;
    }
    if (known != nullptr && (pListed == nullptr || !AsListed(stream, *pListed, outcome)) &&
        FromKnown(stream, *known, outcome)) {
        return;
    }
    IdentifyStream(stream, outcome);
}

bool Identifier::AsListed(const CX::IO::FileInputStream& stream, const CX::IO::FileFacts& listed,
                          Outcome& outcome) {
    // The name may have been given to another file since it was listed: the facts are the
    // listed ones only for the file the handle reads.
    CX::IO::FileIdentity identity;
    DWORD error = ERROR_SUCCESS;
    if (!stream.IsDiskFile() || !stream.GetIdentity(identity, error) ||
        !(identity == listed.Identity)) {
        return false;
    }
    outcome.Facts = listed;
    outcome.HasFacts = true;
    return true;
}

bool Identifier::FromKnown(const CX::IO::FileInputStream& stream, const IKnownFiles& known,
                           Outcome& outcome) {
    // Only a disk file's times follow its bytes: a device or a file of /proc is read.
    DWORD error = ERROR_SUCCESS;
    if (!stream.IsDiskFile() || !stream.GetFacts(outcome.Facts, error) ||
        (outcome.Facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    outcome.HasFacts = true;
    if (!known.Known(outcome.Facts, outcome.Record)) {
        return false;
    }
    outcome.WasKnown = true;
    outcome.What = Failure::None;
    outcome.Error = ERROR_SUCCESS;
    if (IReadObserver* progress = m_observer) {
        progress->Finished();
    }
    return true;
}

void Identifier::IdentifyStandardInput(Outcome& outcome) {
    outcome.SizeDiffers = false;
    CX::IO::StdInputStream stream;
    IdentifyStream(stream, outcome);
    if (outcome.What == Failure::Read && outcome.Error == ERROR_ACCESS_DENIED &&
        CX::IO::StandardInputIsFolder()) {
        outcome.What = Failure::IsDirectory;
    }
}

void Identifier::IdentifyStream(CX::IO::IInputStream& stream, Outcome& outcome) {
    outcome.What = Failure::None;
    outcome.Error = ERROR_SUCCESS;
    m_digest.Reset();
    bool ended = false;
    if (!ReadOn(stream, m_digest, NoLimit, ended, outcome)) {
        return;
    }
    if (IReadObserver* progress = m_observer) {
        progress->Finished();
    }
    m_digest.Final(outcome.Record);
}

bool Identifier::ReadPart(CX::IO::IInputStream& stream, const char* pName, std::uint64_t limit,
                          PartRead& part, Outcome& outcome) {
    outcome.What = Failure::None;
    outcome.Error = ERROR_SUCCESS;
    outcome.SizeDiffers = false;
    if (IReadObserver* progress = m_observer) {
        progress->Started(pName);
    }
    if (!ReadOn(stream, part.Digest, limit, part.Ended, outcome)) {
        return false;
    }
    if (part.Ended) {
        if (IReadObserver* progress = m_observer) {
            progress->Finished();
        }
        part.Digest.Final(outcome.Record);
    }
    return true;
}

bool Identifier::ReadOn(CX::IO::IInputStream& stream, CX::Digest::RecordDigest& digest,
                        std::uint64_t limit, bool& ended, Outcome& outcome) {
    ended = false;
    for (std::uint64_t total = digest.Count(); total < limit;) {
        if (total >= ReadAheadAfter && limit == NoLimit) {
            ended = HashReadAhead(stream, digest, outcome);
            return ended;
        }
        const std::uint64_t left = limit - total;
        std::uint32_t cRead = 0;
        const Status status =
            stream.Read(m_buffer.get(),
                        left < BlockSize ? static_cast<std::uint32_t>(left) : BlockSize, &cRead);
        if (status.Code == StatusCode::EndOfData) {
            ended = true;
            return true;
        }
        if (!status.IsSuccess()) {
            // Taken straight after the failed read, which set it last.
            const DWORD error = GetLastError();
            if (error == ERROR_BROKEN_PIPE) {
                ended = true;  // a Windows pipe whose writer has gone: its end, not a failure
                return true;
            }
            outcome.What = Failure::Read;
            outcome.Error = error;
            return false;
        }
        digest.Update(m_buffer.get(), cRead);
        if (IReadObserver* progress = m_observer) {
            progress->Read(cRead);
        }
        total += cRead;
    }
    return true;
}

bool Identifier::HashReadAhead(CX::IO::IInputStream& stream, CX::Digest::RecordDigest& digest,
                               Outcome& outcome) {
    ReadAhead ahead(stream);
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    DWORD error = ERROR_SUCCESS;
    while (ahead.Next(&data, &size, &error)) {
        digest.Update(data, size);
        if (IReadObserver* progress = m_observer) {
            progress->Read(size);
        }
    }
    if (error != ERROR_SUCCESS) {
        outcome.What = Failure::Read;
        outcome.Error = error;
        return false;
    }
    return true;
}

}  // namespace CX::Workers
