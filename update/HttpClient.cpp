#include "update/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <mutex>

#include "foundation/Utf8.h"

namespace quilmer::Teska {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towlower(x) == std::towlower(y);
           });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::wstring Narrow2Wide(std::string_view bytes) {
    std::wstring wide = FromUtf8(bytes);
    if (wide.empty() && !bytes.empty()) {
        // Not UTF-8: keep the bytes as Latin-1, which every header value fits.
        wide.assign(bytes.begin(), bytes.end());
        for (auto& c : wide) c = static_cast<unsigned char>(c);
    }
    return wide;
}

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// More than this much unread body makes the transfer pause until the caller catches up.
constexpr std::size_t kMaxBuffered = 256 * 1024;

}  // namespace

UrlParts SplitUrl(std::wstring_view url) {
    UrlParts p;
    std::size_t pos = 0;
    std::size_t sep = url.find(L"://");
    if (sep != std::wstring_view::npos) {
        p.schemeStart = 0;
        p.schemeLength = sep;
        pos = sep + 3;
    }
    p.hostStart = pos;
    std::size_t hostEnd = url.find_first_of(L":/?#", pos);
    if (pos < url.size() && url[pos] == L'[') {
        // An IPv6 literal holds colons of its own.
        std::size_t close = url.find(L']', pos);
        hostEnd = close == std::wstring_view::npos ? url.size() : url.find_first_of(L":/?#", close);
    }
    if (hostEnd == std::wstring_view::npos) hostEnd = url.size();
    p.hostLength = hostEnd - pos;
    pos = hostEnd;
    if (pos < url.size() && url[pos] == L':') {
        std::size_t portEnd = url.find_first_of(L"/?#", pos + 1);
        if (portEnd == std::wstring_view::npos) portEnd = url.size();
        p.portStart = pos + 1;
        p.portLength = portEnd - pos - 1;
        pos = portEnd;
    }
    if (pos < url.size() && url[pos] == L'/') {
        std::size_t end = url.find_first_of(L"?#", pos);
        if (end == std::wstring_view::npos) end = url.size();
        p.pathStart = pos;
        p.pathLength = end - pos;
        pos = end;
    }
    if (pos < url.size() && url[pos] == L'?') {
        std::size_t end = url.find(L'#', pos);
        if (end == std::wstring_view::npos) end = url.size();
        p.queryStart = pos;
        p.queryLength = end - pos;
        pos = end;
    }
    if (pos < url.size() && url[pos] == L'#') {
        p.fragmentStart = pos;
        p.fragmentLength = url.size() - pos;
    }
    return p;
}

bool IsHttpsUrl(std::wstring_view url) {
    UrlParts p = SplitUrl(url);
    return p.schemeLength == 5 && EqualsNoCase(url.substr(0, 5), L"https");
}

std::optional<int> PortOf(std::wstring_view url) {
    UrlParts p = SplitUrl(url);
    if (p.portLength == 0) return IsHttpsUrl(url) ? 443 : 80;
    if (p.portLength > 5) return std::nullopt;
    int port = 0;
    for (wchar_t c : url.substr(p.portStart, p.portLength)) {
        if (c < L'0' || c > L'9') return std::nullopt;
        port = port * 10 + (c - L'0');
    }
    if (port < 1 || port > 65535) return std::nullopt;
    return port;
}

std::wstring HostOf(std::wstring_view url) {
    UrlParts p = SplitUrl(url);
    std::wstring host(url.substr(p.hostStart, p.hostLength));
    if (host.size() >= 2 && host.front() == L'[' && host.back() == L']')
        host = host.substr(1, host.size() - 2);
    return host;
}

std::wstring ObjectNameOf(std::wstring_view url) {
    UrlParts p = SplitUrl(url);
    std::size_t end = p.fragmentLength ? p.fragmentStart : url.size();
    if (p.pathLength) return std::wstring(url.substr(p.pathStart, end - p.pathStart));
    std::size_t afterHost = p.portLength ? p.portStart + p.portLength : p.hostStart + p.hostLength;
    return L"/" + std::wstring(url.substr(afterHost, end - afterHost));
}

std::string EncodeComponent(std::wstring_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string bytes = ToUtf8(text);
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::wstring EscapeUrlText(std::wstring_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::wstring out;
    for (unsigned char c : ToUtf8(text)) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out += static_cast<wchar_t>(c);
        } else {
            out += L'%';
            out += static_cast<wchar_t>(hex[c >> 4]);
            out += static_cast<wchar_t>(hex[c & 15]);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------

struct HttpResponse::Impl {
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    std::function<bool()> cancel;

    std::string body;  // received, not yet read
    std::size_t bodyPos = 0;
    bool paused = false;
    bool gotBody = false;
    bool done = false;
    CURLcode result = CURLE_OK;
    std::string setupError;
    long status = 0;

    // Header lines of the latest response; a redirect or an interim response starts over.
    std::vector<std::pair<std::string, std::string>> headers;

    ~Impl() {
        if (easy) {
            if (multi) curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
        }
        if (multi) curl_multi_cleanup(multi);
        curl_slist_free_all(headerList);
    }

    std::size_t Buffered() const { return body.size() - bodyPos; }

    static std::size_t OnBody(char* data, std::size_t, std::size_t n, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (impl->Buffered() >= kMaxBuffered) {
            impl->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (impl->bodyPos > 0 && impl->bodyPos == impl->body.size()) {
            impl->body.clear();
            impl->bodyPos = 0;
        }
        impl->body.append(data, n);
        impl->gotBody = true;
        return n;
    }

    static std::size_t OnHeader(char* data, std::size_t, std::size_t n, void* self) {
        auto* impl = static_cast<Impl*>(self);
        std::string_view line(data, n);
        if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
            impl->headers.clear();
            return n;
        }
        std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && colon > 0) {
            impl->headers.emplace_back(std::string(Trim(line.substr(0, colon))),
                                       std::string(Trim(line.substr(colon + 1))));
        }
        return n;
    }

    static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* impl = static_cast<Impl*>(self);
        return impl->cancel && impl->cancel() ? 1 : 0;
    }

    // Drives the transfer until body bytes are waiting, or until it has ended. With
    // untilHeaders, stops as soon as the headers of the final response are in.
    void Pump(bool untilHeaders) {
        while (!done) {
            if (untilHeaders ? gotBody : Buffered() > 0) return;
            if (cancel && cancel()) {
                result = CURLE_ABORTED_BY_CALLBACK;
                done = true;
                break;
            }
            if (paused && Buffered() == 0) {
                paused = false;
                curl_easy_pause(easy, CURLPAUSE_CONT);
                continue;
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                result = CURLE_FAILED_INIT;
                done = true;
                break;
            }
            int queued = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
                if (msg->msg == CURLMSG_DONE) {
                    result = msg->data.result;
                    done = true;
                }
            }
            if (done || (untilHeaders ? gotBody : Buffered() > 0)) break;
            curl_multi_poll(multi, nullptr, 0, 100, nullptr);
        }
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    }
};

HttpResponse::HttpResponse(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HttpResponse::~HttpResponse() = default;

int HttpResponse::StatusCode() const { return static_cast<int>(impl_->status); }

bool HttpResponse::ContentLength(std::uint64_t& value) const {
    auto text = Header(L"Content-Length");
    if (!text || text->empty()) return false;
    std::uint64_t v = 0;
    for (wchar_t c : *text) {
        if (c < L'0' || c > L'9') return false;
        if (v > (UINT64_MAX - 9) / 10) return false;
        v = v * 10 + static_cast<unsigned>(c - L'0');
    }
    value = v;
    return true;
}

std::optional<std::wstring> HttpResponse::Header(std::wstring_view name, std::size_t index) const {
    std::string narrow = ToUtf8(name);
    std::size_t seen = 0;
    for (const auto& [key, value] : impl_->headers) {
        if (EqualsNoCase(key, narrow) && seen++ == index) return Narrow2Wide(value);
    }
    return std::nullopt;
}

std::optional<std::wstring> HttpResponse::Validator() const {
    if (auto etag = Header(L"ETag"); etag && !etag->empty()) return etag;
    if (auto modified = Header(L"Last-Modified"); modified && !modified->empty()) return modified;
    return std::nullopt;
}

std::size_t HttpResponse::Read(void* buffer, std::size_t size) {
    Impl& d = *impl_;
    if (!d.easy || size == 0) return 0;
    d.Pump(false);
    std::size_t n = std::min(size, d.Buffered());
    std::copy_n(d.body.data() + d.bodyPos, n, static_cast<char*>(buffer));
    d.bodyPos += n;
    return n;
}

bool HttpResponse::ReadFailed() const {
    return !impl_->setupError.empty() || (impl_->done && impl_->result != CURLE_OK);
}

bool HttpResponse::Completed() const {
    return impl_->setupError.empty() && impl_->done && impl_->result == CURLE_OK && impl_->Buffered() == 0;
}

std::string HttpResponse::ErrorText() const {
    if (!impl_->setupError.empty()) return impl_->setupError;
    if (impl_->done && impl_->result != CURLE_OK) return curl_easy_strerror(impl_->result);
    return {};
}

// ---------------------------------------------------------------------------------------------

HttpClient::HttpClient() { InitCurlOnce(); }
HttpClient::~HttpClient() = default;

std::wstring HttpClient::UserAgent() const {
    if (!userAgent_.empty()) return userAgent_;
    std::string def = kDefaultUserAgent;
    return std::wstring(def.begin(), def.end());
}

void HttpClient::AddHeader(const std::wstring& name, const std::wstring& value) {
    for (auto& [n, v] : headers_) {
        if (EqualsNoCase(n, name)) {
            v = value;
            return;
        }
    }
    headers_.emplace_back(name, value);
}

void HttpClient::AddParameter(const std::wstring& name, const std::wstring& value, bool nameEncoded,
                              bool valueEncoded) {
    parameters_.push_back({name, value, nameEncoded, valueEncoded});
}

int HttpClient::SetResumeOffset(std::int64_t offset) {
    char text[64];
    int length = std::snprintf(text, sizeof text, "Range:bytes=%lld-", static_cast<long long>(offset));
    resumeHeader_ = std::string(text, static_cast<std::size_t>(length));
    return length;
}

void HttpClient::SetTimeouts(long connectMs, long stallSeconds) {
    connectTimeoutMs_ = connectMs;
    stallSeconds_ = stallSeconds;
}

std::wstring HttpClient::UrlWithParameters(const std::wstring& url) const {
    if (parameters_.empty()) return url;
    UrlParts p = SplitUrl(url);
    std::size_t queryEnd = p.fragmentLength ? p.fragmentStart : url.size();
    std::wstring out = url.substr(0, queryEnd);
    if (p.pathLength == 0 && p.queryLength == 0) out += L'/';
    if (p.pathLength == 0 && p.queryLength != 0) out.insert(p.queryStart, L"/");
    out += p.queryLength ? L'&' : L'?';
    bool first = true;
    for (const auto& param : parameters_) {
        if (!first) out += L'&';
        first = false;
        std::string name = param.nameEncoded ? ToUtf8(param.name) : EncodeComponent(param.name);
        std::string value = param.valueEncoded ? ToUtf8(param.value) : EncodeComponent(param.value);
        out += FromUtf8(name) + L"=" + FromUtf8(value);
    }
    out += url.substr(queryEnd);
    return out;
}

std::vector<std::string> HttpClient::RequestHeaderLines(bool useCache) const {
    std::vector<std::string> lines;
    if (!useCache) lines.push_back("Cache-Control: no-cache");
    // The resume line goes out once; a repeated Range header makes servers refuse the request.
    if (resumeHeader_) lines.push_back(*resumeHeader_);
    for (const auto& [name, value] : headers_) lines.push_back(ToUtf8(name) + ": " + ToUtf8(value));
    return lines;
}

std::unique_ptr<HttpResponse> HttpClient::Get(const std::wstring& url, bool useCache) {
    auto impl = std::make_unique<HttpResponse::Impl>();
    impl->cancel = cancel_;

    std::wstring full = UrlWithParameters(url);
    std::optional<int> port = PortOf(full);
    std::wstring host = HostOf(full);
    if (!port || host.empty()) {
        impl->setupError = "The requested URL is not a valid URL.";
        impl->done = true;
        return std::unique_ptr<HttpResponse>(new HttpResponse(std::move(impl)));
    }
    // Rebuilt from its parts, so the port and object name sent are exactly the ones computed
    // here; anything but https is spoken as plain http.
    std::wstring hostPart = host.find(L':') != std::wstring::npos ? L"[" + host + L"]" : host;
    std::wstring effective = (IsHttpsUrl(full) ? L"https://" : L"http://") + hostPart + L":" +
                             std::to_wstring(*port) + ObjectNameOf(full);

    impl->easy = curl_easy_init();
    impl->multi = curl_multi_init();
    if (!impl->easy || !impl->multi) {
        impl->setupError = "Out of memory.";
        impl->done = true;
        return std::unique_ptr<HttpResponse>(new HttpResponse(std::move(impl)));
    }
    CURL* e = impl->easy;
    std::string narrowUrl = ToUtf8(effective);
    std::string agent = ToUtf8(UserAgent());
    curl_easy_setopt(e, CURLOPT_URL, narrowUrl.c_str());
    curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
#if LIBCURL_VERSION_NUM >= 0x075700
    // A cancelled request whose name lookup hangs (a stalled DNS server) is let go at once;
    // otherwise the clean-up would wait for the lookup thread to give up by itself.
    curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L);
#endif
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, connectTimeoutMs_);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, stallSeconds_);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 64L * 1024);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &HttpResponse::Impl::OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, impl.get());
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &HttpResponse::Impl::OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, impl.get());
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &HttpResponse::Impl::OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, impl.get());
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    for (const auto& line : RequestHeaderLines(useCache))
        impl->headerList = curl_slist_append(impl->headerList, line.c_str());
    impl->headerList = curl_slist_append(impl->headerList, "Accept: */*");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, impl->headerList);
    curl_multi_add_handle(impl->multi, e);

    impl->Pump(true);
    return std::unique_ptr<HttpResponse>(new HttpResponse(std::move(impl)));
}

}  // namespace quilmer::Teska
