#include "zavo_callstream/decoder.hpp"

#include <libyuv/convert_argb.h>
#include <wels/codec_api.h>

#include <limits>
#include <utility>

namespace zavo_callstream::decoder {

H264Decoder::H264Decoder() {
    ISVCDecoder* decoder = nullptr;
    if (WelsCreateDecoder(&decoder) != 0 || decoder == nullptr) return;
    int quiet = WELS_LOG_QUIET;
    decoder->SetOption(DECODER_OPTION_TRACE_LEVEL, &quiet);
    SDecodingParam param{};
    param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
    // A picture with missing references is dropped rather than patched up from older pictures.
    param.eEcActiveIdc = ERROR_CON_DISABLE;
    if (decoder->Initialize(&param) != cmResultSuccess) {
        WelsDestroyDecoder(decoder);
        return;
    }
    decoder_ = decoder;
}

H264Decoder::~H264Decoder() {
    if (decoder_ == nullptr) return;
    decoder_->Uninitialize();
    WelsDestroyDecoder(decoder_);
}

H264Decoder::H264Decoder(H264Decoder&& other) noexcept
    : last_(std::exchange(other.last_, std::nullopt)),
      decoder_(std::exchange(other.decoder_, nullptr)),
      pool_(std::move(other.pool_)) {}

H264Decoder& H264Decoder::operator=(H264Decoder&& other) noexcept {
    std::swap(last_, other.last_);
    std::swap(decoder_, other.decoder_);
    std::swap(pool_, other.pool_);
    return *this;
}

std::optional<DecodedFrame> H264Decoder::decode(std::span<const std::uint8_t> frame, bool picture) {
    last_.reset();
    if (decoder_ == nullptr || frame.empty() || frame.size() > std::numeric_limits<int>::max()) return std::nullopt;
    unsigned char* planes[3] = {nullptr, nullptr, nullptr};
    SBufferInfo info{};
    DECODING_STATE state = decoder_->DecodeFrameNoDelay(frame.data(), static_cast<int>(frame.size()), planes, &info);
    if (state != dsErrorFree || info.iBufferStatus != 1) return std::nullopt;
    const SSysMEMBuffer& buffer = info.UsrData.sSystemBuffer;
    if (planes[0] == nullptr || planes[1] == nullptr || planes[2] == nullptr || buffer.iWidth <= 0 ||
        buffer.iHeight <= 0)
        return std::nullopt;
    last_ = Planes{planes[0], planes[1], planes[2], buffer.iStride[0], buffer.iStride[1], buffer.iWidth, buffer.iHeight};
    if (!picture) return std::nullopt;
    return last_picture();
}

std::optional<DecodedFrame> H264Decoder::last_picture() {
    if (!last_) return std::nullopt;
    const Planes& p = *last_;
    DecodedFrame out;
    out.width = static_cast<std::uint32_t>(p.width);
    out.height = static_cast<std::uint32_t>(p.height);
    PicturePool::Buffer rgba = pool_.take(std::size_t{out.width} * out.height * 4);
    // libyuv names formats by their 32-bit word: ABGR is R, G, B, A in memory.
    libyuv::I420ToABGR(p.y, p.luma_stride, p.u, p.chroma_stride, p.v, p.chroma_stride, rgba->data(), p.width * 4,
                       p.width, p.height);
    out.rgba = pool_.share(std::move(rgba));
    return out;
}

}  // namespace zavo_callstream::decoder
