#include "foundation/protocol/WindowFrames.h"

#include <cstring>

#include "foundation/FileUtil.h"
#include "foundation/Utf8.h"

namespace quilmer {

namespace {

constexpr char kRequestMagic[4] = {'Q', 'W', 'P', '1'};
constexpr char kReplyMagic[4] = {'Q', 'W', 'R', '1'};

std::uint32_t Fnv1a32(std::string_view bytes, bool foldAscii) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : bytes) {
        if (foldAscii && c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

std::uint64_t Fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

void PutLE(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t GetLE(const char* data, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(data[i]);
    return value;
}

}  // namespace

std::string ClassNameBytes(std::wstring_view className) {
    // Class names are text; NativePath also carries odd bytes and never fails.
    std::string utf8 = ToUtf8(className);
    if (utf8.empty() && !className.empty()) return NativePath(className);
    return utf8;
}

std::uint32_t RegisteredMessageId(std::wstring_view messageName) {
    if (messageName.empty()) return 0;
    return 0xC000u + Fnv1a32(ClassNameBytes(messageName), true) % 0x4000u;
}

std::string ClassKey(std::wstring_view className) {
    static const char* hex = "0123456789abcdef";
    std::uint64_t hash = Fnv1a64(ClassNameBytes(className));
    std::string key(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) key[static_cast<std::size_t>(i)] = hex[hash & 15];
    return key;
}

std::string EncodeRequest(const std::string& classBytes, const WindowRequest& request) {
    std::string out(kRequestMagic, 4);
    out.push_back(static_cast<char>(request.kind));
    out.append(3, '\0');
    const std::string& payload = request.kind == RequestKind::CopyData ? request.bytes : std::string();
    PutLE(out, classBytes.size(), 4);
    PutLE(out, payload.size(), 4);
    PutLE(out, request.kind == RequestKind::Close ? 0 : request.value, 8);
    out += classBytes;
    out += payload;
    return out;
}

std::string EncodeReply(ReplyStatus status, std::int64_t value) {
    std::string out(kReplyMagic, 4);
    out.push_back(static_cast<char>(status));
    out.append(3, '\0');
    PutLE(out, static_cast<std::uint64_t>(value), 8);
    return out;
}

std::optional<Reply> DecodeReply(std::string_view bytes) {
    if (bytes.size() != frames::kReplySize || std::memcmp(bytes.data(), kReplyMagic, 4) != 0)
        return std::nullopt;
    if (bytes[5] || bytes[6] || bytes[7]) return std::nullopt;
    auto status = static_cast<unsigned char>(bytes[4]);
    if (status > static_cast<unsigned char>(ReplyStatus::Busy)) return std::nullopt;
    Reply reply;
    reply.status = static_cast<ReplyStatus>(status);
    reply.value = static_cast<std::int64_t>(GetLE(bytes.data() + 8, 8));
    return reply;
}

std::size_t RequestReader::Wanted() const {
    if (state_ != State::NeedMore) return 0;
    if (!headerDone_) return frames::kRequestHeaderSize - buffer_.size();
    return frames::kRequestHeaderSize + classSize_ + payloadSize_ - buffer_.size();
}

RequestReader::State RequestReader::Feed(const char* data, std::size_t size) {
    while (size > 0 && state_ == State::NeedMore) {
        std::size_t take = std::min(size, Wanted());
        buffer_.append(data, take);
        data += take;
        size -= take;
        state_ = Check();
    }
    // Bytes past the one request of a connection are not part of the protocol.
    if (size > 0 && state_ == State::Complete) {
        problem_ = "bytes after the request";
        state_ = State::Invalid;
    }
    return state_;
}

RequestReader::State RequestReader::Check() {
    if (!headerDone_) {
        if (buffer_.size() < frames::kRequestHeaderSize) return State::NeedMore;
        const char* h = buffer_.data();
        if (std::memcmp(h, kRequestMagic, 4) != 0) {
            problem_ = "not a request frame";
            return State::Invalid;
        }
        auto kind = static_cast<unsigned char>(h[4]);
        if (kind < 1 || kind > 3 || h[5] || h[6] || h[7]) {
            problem_ = "unknown request kind";
            return State::Invalid;
        }
        classSize_ = static_cast<std::size_t>(GetLE(h + 8, 4));
        payloadSize_ = static_cast<std::size_t>(GetLE(h + 12, 4));
        request_.kind = static_cast<RequestKind>(kind);
        request_.value = GetLE(h + 16, 8);
        if (classSize_ > frames::kMaxClassBytes || payloadSize_ > frames::kMaxPayloadBytes) {
            problem_ = "frame too long";
            return State::Invalid;
        }
        if (request_.kind != RequestKind::CopyData && payloadSize_ != 0) {
            problem_ = "payload on a request that takes none";
            return State::Invalid;
        }
        headerDone_ = true;
    }
    if (buffer_.size() < frames::kRequestHeaderSize + classSize_ + payloadSize_) return State::NeedMore;
    classBytes_ = buffer_.substr(frames::kRequestHeaderSize, classSize_);
    request_.bytes = buffer_.substr(frames::kRequestHeaderSize + classSize_);
    buffer_.clear();
    buffer_.shrink_to_fit();
    return State::Complete;
}

}  // namespace quilmer
