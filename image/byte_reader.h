// Bounds-checked reads of untrusted bytes (file headers, box trees, marker segments): every
// read says whether the bytes were there, and a read beyond the end yields false and no value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

class ByteReader {
public:
    ByteReader(const unsigned char* data, size_t size) : data_(data), size_(data != nullptr ? size : 0) {}

    const unsigned char* data() const { return data_; }
    size_t size() const { return size_; }

    bool Has(uint64_t offset, uint64_t count) const { return offset <= size_ && count <= size_ - offset; }
    bool Matches(uint64_t offset, const char* text, size_t count) const {
        return Has(offset, count) && std::memcmp(data_ + offset, text, count) == 0;
    }
    // An unsigned field of `bytes` (1 to 8) bytes in the given byte order.
    bool Unsigned(uint64_t offset, int bytes, bool bigEndian, uint64_t& value) const {
        if (bytes < 1 || bytes > 8 || !Has(offset, static_cast<uint64_t>(bytes))) return false;
        const unsigned char* p = data_ + offset;
        value = 0;
        for (int i = 0; i < bytes; ++i) value = value << 8 | p[bigEndian ? i : bytes - 1 - i];
        return true;
    }
    bool U8(uint64_t offset, long long& value) const { return Signed(offset, 1, true, false, value); }
    bool U16(uint64_t offset, bool bigEndian, long long& value) const { return Signed(offset, 2, bigEndian, false, value); }
    bool U32(uint64_t offset, bool bigEndian, long long& value) const { return Signed(offset, 4, bigEndian, false, value); }
    // A two's-complement 32-bit field (BMP heights are negative for top-down pictures).
    bool I32(uint64_t offset, bool bigEndian, long long& value) const { return Signed(offset, 4, bigEndian, true, value); }
    // A 64-bit field, refused when it does not fit a long long (no file offset is that large).
    bool U64(uint64_t offset, bool bigEndian, long long& value) const {
        uint64_t raw;
        if (!Unsigned(offset, 8, bigEndian, raw) || raw > static_cast<uint64_t>(INT64_MAX)) return false;
        value = static_cast<long long>(raw);
        return true;
    }
    // The bytes from `offset` on, `count` long, as a reader of their own.
    ByteReader Slice(uint64_t offset, uint64_t count) const {
        return Has(offset, count) ? ByteReader(data_ + offset, static_cast<size_t>(count)) : ByteReader(nullptr, 0);
    }

private:
    bool Signed(uint64_t offset, int bytes, bool bigEndian, bool twosComplement, long long& value) const {
        uint64_t raw;
        if (!Unsigned(offset, bytes, bigEndian, raw)) return false;
        uint64_t top = uint64_t{1} << (8 * bytes - 1);
        value = twosComplement && (raw & top) ? static_cast<long long>(raw) - static_cast<long long>(top << 1)
                                              : static_cast<long long>(raw);
        return true;
    }

    const unsigned char* data_;
    size_t size_;
};
