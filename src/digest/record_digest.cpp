#include "digest/record_digest.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "hash/sha256_compress.h"

namespace CX::Digest {

void RecordDigest::Reset() {
    m_path = Sha256PathInUse();
    m_compress = CompressOf(m_path);
    m_count = 0;
    std::copy(std::begin(CX::Hash::Sha256InitialHash), std::end(CX::Hash::Sha256InitialHash),
              m_hash);
    m_waiting = 0;
}

void RecordDigest::Update(const std::uint8_t* data, std::size_t size) {
    m_count += size;
    if (m_waiting != 0) {
        const std::size_t take = std::min(sizeof m_block - m_waiting, size);
        std::memcpy(m_block + m_waiting, data, take);
        m_waiting += take;
        data += take;
        size -= take;
        if (m_waiting < sizeof m_block) {
            return;
        }
        m_compress(m_hash, m_block, 1);
        m_waiting = 0;
    }
    if (const std::size_t blocks = size / sizeof m_block; blocks != 0) {
        m_compress(m_hash, data, blocks);
        data += blocks * sizeof m_block;
        size -= blocks * sizeof m_block;
    }
    if (size != 0) {
        std::memcpy(m_block, data, size);
        m_waiting = size;
    }
}

void RecordDigest::Final(std::uint8_t* record) const {
    std::uint32_t hash[8];
    std::copy(std::begin(m_hash), std::end(m_hash), hash);
    // The padding: 0x80, zeros, and the count in bits, big-endian, in the last 8 bytes of
    // a block; a second block when fewer than 9 bytes are left after the message.
    std::uint8_t last[2 * sizeof m_block] = {};
    std::memcpy(last, m_block, m_waiting);
    last[m_waiting] = 0x80;
    const std::size_t blocks = m_waiting < sizeof m_block - 8 ? 1 : 2;
    const std::uint64_t bits = m_count * 8;
    std::uint8_t* end = last + blocks * sizeof m_block;
    for (int i = 1; i <= 8; ++i) {
        end[-i] = static_cast<std::uint8_t>(bits >> (8 * (i - 1)));
    }
    m_compress(hash, last, blocks);

    for (int i = 0; i < 8; ++i) {
        record[i] = static_cast<std::uint8_t>(m_count >> (8 * i));
    }
    for (int i = 0; i < 32; ++i) {
        record[8 + i] = static_cast<std::uint8_t>(hash[i / 4] >> (24 - 8 * (i % 4)));
    }
}

}  // namespace CX::Digest
