// The inflater over zlib: the fallback where ISA-L is missing, and always built and tested.
#include <zlib.h>

#include <climits>
#include <new>

#include "update/Inflater.h"

namespace {

class ZlibInflater : public Inflater {
 public:
  ZlibInflater() = default;
  ~ZlibInflater() override {
    if (initialised_) inflateEnd(&stream_);
  }
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  bool Reset() override {
    crc_ = crc32_z(0, nullptr, 0);
    if (initialised_) return inflateReset(&stream_) == Z_OK;
    stream_ = z_stream{};
    initialised_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;  // raw: no zlib header
    return initialised_;
  }

  Status Inflate(Buffers& b) override {
    // zlib counts in unsigned int; larger buffers are worked through in parts by the caller.
    stream_.next_in = const_cast<Bytef*>(b.in);
    stream_.avail_in = static_cast<uInt>(b.inSize > UINT_MAX ? UINT_MAX : b.inSize);
    stream_.next_out = b.out;
    stream_.avail_out = static_cast<uInt>(b.outSize > UINT_MAX ? UINT_MAX : b.outSize);
    const int rc = inflate(&stream_, Z_NO_FLUSH);
    const size_t consumed = static_cast<size_t>(stream_.next_in - b.in);
    const size_t produced = static_cast<size_t>(stream_.next_out - b.out);
    crc_ = crc32_z(crc_, b.out, produced);
    b.in += consumed;
    b.inSize -= consumed;
    b.out += produced;
    b.outSize -= produced;
    switch (rc) {
      case Z_STREAM_END: return Status::StreamEnd;
      case Z_OK: return Status::More;
      case Z_BUF_ERROR: return Status::More;  // no progress possible with these buffers
      default: return Status::Corrupt;        // Z_DATA_ERROR, Z_NEED_DICT, Z_MEM_ERROR
    }
  }

  uint32_t Crc() const override { return static_cast<uint32_t>(crc_); }
  uint32_t UpdateCrc(uint32_t crc, const uint8_t* data, size_t size) const override {
    return static_cast<uint32_t>(crc32_z(crc, data, size));
  }
  const char* Name() const override { return "zlib"; }

 private:
  z_stream stream_{};
  bool initialised_ = false;
  uLong crc_ = 0;
};

}  // namespace

std::unique_ptr<Inflater> NewInflater() { return std::unique_ptr<Inflater>(new (std::nothrow) ZlibInflater()); }
