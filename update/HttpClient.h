#pragma once
// A small HTTP client for the update download: GET requests with extra headers, query
// parameters and a resume offset, and a response whose body is read in caller-sized chunks.
// Built on libcurl; HTTPS certificates are always verified.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quilmer::Teska {

// Positions inside a URL text. A part that is absent has length 0 (and start npos).
struct UrlParts {
    static constexpr std::size_t npos = std::wstring::npos;
    std::size_t schemeStart = npos, schemeLength = 0;
    std::size_t hostStart = 0, hostLength = 0;
    std::size_t portStart = npos, portLength = 0;
    std::size_t pathStart = npos, pathLength = 0;
    std::size_t queryStart = npos, queryLength = 0;
    std::size_t fragmentStart = npos, fragmentLength = 0;
};

// Splits a URL into its parts. A URL without "://" is taken as having no scheme.
UrlParts SplitUrl(std::wstring_view url);

// The scheme is "https" in any letter case.
bool IsHttpsUrl(std::wstring_view url);

// 443 for https, 80 otherwise, or the URL's own port. Nullopt when the port is not a number
// from 1 to 65535.
std::optional<int> PortOf(std::wstring_view url);

// The host part, without brackets around an IPv6 literal.
std::wstring HostOf(std::wstring_view url);

// The object of the request line: the path with query, or "/" followed by whatever follows
// the host when the URL has no path. The fragment never goes to the server.
std::wstring ObjectNameOf(std::wstring_view url);

// Form encoding of one name or value: ASCII letters and digits stay, a blank becomes "+",
// every other byte of the UTF-8 form becomes "%" and two upper-case hexadecimal digits.
std::string EncodeComponent(std::wstring_view text);

// Escaping of a text put into a URL by hand: RFC 3986 unreserved characters stay, every other
// byte of the UTF-8 form becomes "%XX" (a blank becomes "%20").
std::wstring EscapeUrlText(std::wstring_view text);

class HttpResponse {
public:
    ~HttpResponse();
    HttpResponse(const HttpResponse&) = delete;
    HttpResponse& operator=(const HttpResponse&) = delete;

    // The final status code (after redirects), 0 when no response arrived at all.
    int StatusCode() const;

    // The body length the server announced; false when it sent none.
    bool ContentLength(std::uint64_t& value) const;

    // The index-th value of a response header (names compare case-insensitively).
    std::optional<std::wstring> Header(std::wstring_view name, std::size_t index = 0) const;

    // What identifies the server's version of the resource: the ETag, or Last-Modified when
    // there is no ETag. Nullopt when the response has neither.
    std::optional<std::wstring> Validator() const;

    // Reads the next chunk of the body. 0 means the body has ended, or the transfer failed
    // (ReadFailed tells which).
    std::size_t Read(void* buffer, std::size_t size);

    // The transfer failed: no connection, a dropped connection, fewer bytes than announced,
    // a time-out or a cancel.
    bool ReadFailed() const;
    // True once the body has been read to its announced end without failure.
    bool Completed() const;
    // The reason of a failure, for the log.
    std::string ErrorText() const;

private:
    friend class HttpClient;
    struct Impl;
    explicit HttpResponse(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    static constexpr const char* kDefaultUserAgent =
        "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1; Acoo Browser)";

    void SetUserAgent(std::wstring agent) { userAgent_ = std::move(agent); }
    std::wstring UserAgent() const;

    // Extra request header; a second value for the same name (case-insensitive) replaces it.
    void AddHeader(const std::wstring& name, const std::wstring& value);
    // Query parameter for GET; flags say that name or value are encoded already.
    void AddParameter(const std::wstring& name, const std::wstring& value, bool nameEncoded = false,
                      bool valueEncoded = false);
    void ClearParameters() { parameters_.clear(); }

    // Asks the server for the body from this byte on ("Range:bytes=N-"). Returns the header's
    // length.
    int SetResumeOffset(std::int64_t offset);
    void ClearResumeOffset() { resumeHeader_.reset(); }
    const std::optional<std::string>& ResumeHeader() const { return resumeHeader_; }

    // A connection that is not made within connectMs fails; a transfer that delivers less than
    // one byte per second for stallSeconds fails.
    void SetTimeouts(long connectMs, long stallSeconds);

    // A flag another thread may set to abandon the transfer. It is looked at every 100 ms at
    // most while the request waits for the server, and between reads.
    void SetCancelFlag(const std::atomic<bool>* cancel) {
        cancel_ = cancel ? std::function<bool()>([cancel] { return cancel->load(); }) : nullptr;
    }
    // The same as a question asked as often.
    void SetCancelCheck(std::function<bool()> cancel) { cancel_ = std::move(cancel); }

    // The URL with the parameter table appended as a query (unchanged when the table is empty).
    std::wstring UrlWithParameters(const std::wstring& url) const;

    // The request headers in the order they are sent (without the ones libcurl adds itself:
    // Host, User-Agent, Accept).
    std::vector<std::string> RequestHeaderLines(bool useCache) const;

    // Sends a GET request and waits for the response headers. Always returns a response; one
    // whose request failed has status 0 and reads nothing.
    std::unique_ptr<HttpResponse> Get(const std::wstring& url, bool useCache = false);

private:
    struct Parameter {
        std::wstring name, value;
        bool nameEncoded, valueEncoded;
    };
    std::wstring userAgent_;
    std::vector<std::pair<std::wstring, std::wstring>> headers_;
    std::vector<Parameter> parameters_;
    std::optional<std::string> resumeHeader_;
    long connectTimeoutMs_ = 30000;
    long stallSeconds_ = 60;
    std::function<bool()> cancel_;
};

}  // namespace quilmer::Teska
