#include "zavo_callstream/encoder.hpp"

#include <libyuv/convert.h>
#include <wels/codec_api.h>

#include <utility>

namespace zavo_callstream::encoder {

H264Encoder::H264Encoder(std::uint32_t width, std::uint32_t height, float frame_rate, std::uint32_t key_interval)
    : width_(width), height_(height), frame_rate_(frame_rate) {
    if (width == 0 || height == 0 || width % 2 != 0 || height % 2 != 0 || width > 4096 || height > 4096) return;
    ISVCEncoder* encoder = nullptr;
    if (WelsCreateSVCEncoder(&encoder) != 0 || encoder == nullptr) return;

    int quiet = WELS_LOG_QUIET;
    encoder->SetOption(ENCODER_OPTION_TRACE_LEVEL, &quiet);

    SEncParamExt param{};
    encoder->GetDefaultParams(&param);
    param.iUsageType = SCREEN_CONTENT_REAL_TIME;
    param.iPicWidth = static_cast<int>(width);
    param.iPicHeight = static_cast<int>(height);
    param.fMaxFrameRate = frame_rate;
    param.iTargetBitrate = 8'000'000;
    param.iMaxBitrate = UNSPECIFIED_BIT_RATE;
    param.iRCMode = RC_QUALITY_MODE;
    param.bEnableFrameSkip = false;
    param.bEnableAdaptiveQuant = false;
    param.bEnableBackgroundDetection = false;
    param.uiIntraPeriod = key_interval;
    param.iSpatialLayerNum = 1;
    param.iTemporalLayerNum = 1;
    param.iMultipleThreadIdc = 1;
    param.eSpsPpsIdStrategy = CONSTANT_ID;
    SSpatialLayerConfig& layer = param.sSpatialLayers[0];
    layer.iVideoWidth = param.iPicWidth;
    layer.iVideoHeight = param.iPicHeight;
    layer.fFrameRate = frame_rate;
    layer.iSpatialBitrate = param.iTargetBitrate;
    layer.iMaxSpatialBitrate = UNSPECIFIED_BIT_RATE;
    layer.uiProfileIdc = PRO_BASELINE;
    layer.sSliceArgument.uiSliceMode = SM_SINGLE_SLICE;
    if (encoder->InitializeExt(&param) != cmResultSuccess) {
        WelsDestroySVCEncoder(encoder);
        return;
    }
    int format = videoFormatI420;
    encoder->SetOption(ENCODER_OPTION_DATAFORMAT, &format);
    encoder_ = encoder;
    i420_.resize(std::size_t{width} * height * 3 / 2);
}

H264Encoder::~H264Encoder() {
    if (encoder_ == nullptr) return;
    encoder_->Uninitialize();
    WelsDestroySVCEncoder(encoder_);
}

H264Encoder::H264Encoder(H264Encoder&& other) noexcept
    : encoder_(std::exchange(other.encoder_, nullptr)),
      width_(other.width_),
      height_(other.height_),
      pictures_(other.pictures_),
      frame_rate_(other.frame_rate_),
      i420_(std::move(other.i420_)) {}

H264Encoder& H264Encoder::operator=(H264Encoder&& other) noexcept {
    std::swap(encoder_, other.encoder_);
    std::swap(width_, other.width_);
    std::swap(height_, other.height_);
    std::swap(pictures_, other.pictures_);
    std::swap(frame_rate_, other.frame_rate_);
    std::swap(i420_, other.i420_);
    return *this;
}

std::vector<std::uint8_t> H264Encoder::encode_rgba(std::span<const std::uint8_t> rgba) {
    if (encoder_ == nullptr || rgba.size() != std::size_t{width_} * height_ * 4) return {};
    const int w = static_cast<int>(width_);
    const int h = static_cast<int>(height_);
    std::uint8_t* y = i420_.data();
    std::uint8_t* u = y + std::size_t{width_} * height_;
    std::uint8_t* v = u + std::size_t{width_} * height_ / 4;
    // libyuv's ABGR is R, G, B, A in memory.
    libyuv::ABGRToI420(rgba.data(), w * 4, y, w, u, w / 2, v, w / 2, w, h);

    SSourcePicture picture{};
    picture.iColorFormat = videoFormatI420;
    picture.iPicWidth = w;
    picture.iPicHeight = h;
    picture.iStride[0] = w;
    picture.iStride[1] = w / 2;
    picture.iStride[2] = w / 2;
    picture.pData[0] = y;
    picture.pData[1] = u;
    picture.pData[2] = v;
    picture.uiTimeStamp = static_cast<long long>(static_cast<double>(pictures_) * 1000.0 / frame_rate_);
    ++pictures_;

    SFrameBSInfo info{};
    if (encoder_->EncodeFrame(&picture, &info) != cmResultSuccess || info.eFrameType == videoFrameTypeSkip ||
        info.eFrameType == videoFrameTypeInvalid)
        return {};
    std::vector<std::uint8_t> out;
    for (int i = 0; i < info.iLayerNum; ++i) {
        const SLayerBSInfo& layer = info.sLayerInfo[i];
        std::size_t size = 0;
        for (int n = 0; n < layer.iNalCount; ++n) size += static_cast<std::size_t>(layer.pNalLengthInByte[n]);
        out.insert(out.end(), layer.pBsBuf, layer.pBsBuf + size);
    }
    return out;
}

void H264Encoder::force_key_frame() {
    if (encoder_ != nullptr) encoder_->ForceIntraFrame(true);
}

}  // namespace zavo_callstream::encoder
