#pragma once
// Registered-message ids and the frames of the window protocol (README.md describes both).
// Pure functions, shared by the window side and the finder side.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quilmer {

// The id of a registered message: 0xC000 + (FNV-1a 32 of the name's UTF-8 bytes, ASCII letters
// folded to lower case) mod 0x4000. The same name gives the same id in every process; 0 for an
// empty name (no message).
std::uint32_t RegisteredMessageId(std::wstring_view messageName);

// The bytes a class name travels as, and the 16 hex digits that start its windows' socket names.
std::string ClassNameBytes(std::wstring_view className);
std::string ClassKey(std::wstring_view className);

enum class RequestKind : std::uint8_t { Message = 1, CopyData = 2, Close = 3 };

struct WindowRequest {
    RequestKind kind = RequestKind::Message;
    std::uint64_t value = 0;  // the message id (Message) or the tag (CopyData); 0 for Close
    std::string bytes;        // CopyData only
};

enum class ReplyStatus : std::uint8_t {
    Handled = 0,     // value is the window's reply
    WrongClass = 1,  // the socket belongs to a window of another class
    BadRequest = 2,  // not a frame of this protocol, or too long
    Busy = 3,        // the window has too many requests open
};

namespace frames {
inline constexpr std::size_t kRequestHeaderSize = 24;
inline constexpr std::size_t kReplySize = 16;
inline constexpr std::size_t kMaxClassBytes = 1024;
inline constexpr std::size_t kMaxPayloadBytes = 4u << 20;
}  // namespace frames

std::string EncodeRequest(const std::string& classBytes, const WindowRequest& request);
std::string EncodeReply(ReplyStatus status, std::int64_t value);

struct Reply {
    ReplyStatus status = ReplyStatus::BadRequest;
    std::int64_t value = 0;
};
// nullopt unless exactly a reply frame.
std::optional<Reply> DecodeReply(std::string_view bytes);

// Reads a request as it trickles in. Feed() takes what arrived; after each call State() tells
// whether more is needed, a whole request is there, or the bytes are not a request (then the
// connection is given up). Never asks for more than the frame announces.
class RequestReader {
public:
    enum class State { NeedMore, Complete, Invalid };

    // How many more bytes the frame needs (0 once complete or invalid).
    std::size_t Wanted() const;
    State Feed(const char* data, std::size_t size);
    State GetState() const { return state_; }
    const std::string& ClassBytes() const { return classBytes_; }
    const WindowRequest& Request() const { return request_; }
    // Why the frame was refused (for the log).
    const std::string& Problem() const { return problem_; }

private:
    State Check();

    std::string buffer_;
    std::size_t classSize_ = 0;
    std::size_t payloadSize_ = 0;
    bool headerDone_ = false;
    State state_ = State::NeedMore;
    std::string classBytes_;
    WindowRequest request_;
    std::string problem_;
};

}  // namespace quilmer
