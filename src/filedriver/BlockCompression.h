#pragma once
// The block codecs of archives: one codec per archive turns each stored block back into its bytes.
//   NullCompression  blocks stored as they are
//   ZlibCompression  each block one zlib stream (RFC 1950), as compress2 writes it
// A codec object decodes one block at a time: calls on the same object must not overlap.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace filedriver {

class ZlibDecoder;

using ByteBuffer = std::vector<std::uint8_t>;
// Named integer settings of a codec: "compressionType" (0 or 1) and "compressionLevel".
using PropertyMap = std::map<std::string, std::int32_t>;

class ABlockCompression {
public:
    virtual ~ABlockCompression() {}
    // The stored form of `input`; empty when the codec refuses (a zlib level outside -1 to 9).
    virtual ByteBuffer compress(const ByteBuffer& input) = 0;
    // Decodes one stored block into `output`: its size on entry is the most it may take, on return the
    // number of bytes produced. False when the stored block is damaged: it does not decode to its end
    // cleanly (for zlib: the stream's end and checksum are not reached, or bytes follow them).
    virtual bool decompress(const ByteBuffer& input, ByteBuffer& output) = 0;
    // Decodes the `size` stored bytes at `input` straight into at most `room` bytes at `output`, for
    // readers that keep decoded blocks side by side: the number of bytes produced, or -1 when the
    // block is damaged or does not fit. This one goes through decompress.
    virtual std::int64_t decompressInto(const std::uint8_t* input, std::size_t size, std::uint8_t* output,
                                        std::size_t room);
};

class NullCompression : public ABlockCompression {
public:
    ByteBuffer compress(const ByteBuffer& input) override;
    // `output` becomes a copy of `input`, whatever its size was.
    bool decompress(const ByteBuffer& input, ByteBuffer& output) override;
};

class ZlibCompression : public ABlockCompression {
public:
    static constexpr std::int32_t defaultLevel = -1;

    ZlibCompression();
    explicit ZlibCompression(std::int32_t level);
    ~ZlibCompression() override;
    ZlibCompression(const ZlibCompression&) = delete;
    ZlibCompression& operator=(const ZlibCompression&) = delete;

    ByteBuffer compress(const ByteBuffer& input) override;
    bool decompress(const ByteBuffer& input, ByteBuffer& output) override;
    std::int64_t decompressInto(const std::uint8_t* input, std::size_t size, std::uint8_t* output,
                                std::size_t room) override;

private:
    // Set up once and reused for every block.
    std::unique_ptr<ZlibDecoder> decoder;
    std::int32_t level;
};

// The codec that "compressionType" names (0 or 1, the level from "compressionLevel" if present);
// null for any other type or none.
std::unique_ptr<ABlockCompression> createCompression(const PropertyMap& properties);

} // namespace filedriver
