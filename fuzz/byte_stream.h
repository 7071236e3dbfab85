// Reads a fuzz input front to back: bytes, little-endian numbers, numbers in a range and
// runs of bytes. An exhausted stream reads as zeros, so the seeds of fuzz/make-seeds.py can
// be written in call order and end wherever the defaults (zero) are what they want.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

class ByteStream {
public:
    ByteStream() = default;
    ByteStream(const uint8_t* data, size_t size) : p_(data), n_(size) {}

    size_t Remaining() const { return n_; }
    bool Empty() const { return n_ == 0; }

    uint8_t Byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    bool Bool() { return (Byte() & 1) != 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | (static_cast<uint32_t>(U16()) << 16); }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    double F64() {
        const uint64_t bits = static_cast<uint64_t>(U32()) | (static_cast<uint64_t>(U32()) << 32);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // lo..hi from one byte when the range has at most 256 values, else from four.
    template <typename T>
    T Range(T lo, T hi) {
        const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo) + 1;
        const uint64_t raw = span <= 256 ? Byte() : U32();
        return static_cast<T>(static_cast<uint64_t>(lo) + raw % span);
    }
    // Up to n bytes (fewer at the end of the stream).
    std::string Bytes(size_t n) {
        const size_t k = n < n_ ? n : n_;
        std::string s(reinterpret_cast<const char*>(p_), k);
        p_ += k;
        n_ -= k;
        return s;
    }
    // The next n bytes (or what is left) as a stream of their own.
    ByteStream Take(size_t n) {
        const size_t k = n < n_ ? n : n_;
        ByteStream s(p_, k);
        p_ += k;
        n_ -= k;
        return s;
    }

private:
    const uint8_t* p_ = nullptr;
    size_t n_ = 0;
};
