#include "line/LineHttp.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <system_error>

namespace {

std::wstring Wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

struct InternetCloser {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetCloser>;

// WinHTTP's errors come from its own module's message table.
std::string ErrorText(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM |
            FORMAT_MESSAGE_IGNORE_INSERTS,
        GetModuleHandleW(L"winhttp.dll"), code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string words;
    if (length > 0 && text != nullptr) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                             nullptr, nullptr);
        words.resize(static_cast<std::size_t>(size));
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), words.data(), size, nullptr,
                            nullptr);
        LocalFree(text);
        while (!words.empty() && (words.back() == '\n' || words.back() == '\r' ||
                                  words.back() == ' ' || words.back() == '.')) {
            words.pop_back();
        }
    }
    return (words.empty() ? std::string("WinHTTP error") : words) + " (" + std::to_string(code) +
           ")";
}

HttpAnswer Failed() {
    HttpAnswer answer;
    answer.Error = ErrorText(GetLastError());
    return answer;
}

} // namespace

HttpAnswer SendHttp(const LineAddress& to, const std::string& method, const std::string& path,
                    const std::string& body, const std::string& token,
                    const HttpTimeouts& timeouts) {
    // The system's proxy settings, as other programs of the computer have them.
    Internet session(WinHttpOpen(L"tervix-flash", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return Failed();
    }
    WinHttpSetTimeouts(session.get(), timeouts.ConnectMs, timeouts.ConnectMs, timeouts.ReplyMs,
                       timeouts.ReplyMs);
    Internet connection(WinHttpConnect(session.get(), Wide(to.Host).c_str(),
                                       static_cast<INTERNET_PORT>(to.Port), 0));
    if (!connection) {
        return Failed();
    }
    Internet request(WinHttpOpenRequest(
        connection.get(), Wide(method).c_str(), Wide(to.Prefix + path).c_str(), nullptr,
        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, to.Tls ? WINHTTP_FLAG_SECURE : 0));
    if (!request) {
        return Failed();
    }
    std::wstring headers = L"Content-Type: application/json\r\n";
    if (!token.empty()) {
        headers += L"Authorization: Bearer " + Wide(token) + L"\r\n";
    }
    if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                            const_cast<char*>(body.data()), static_cast<DWORD>(body.size()),
                            static_cast<DWORD>(body.size()), 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return Failed();
    }
    HttpAnswer answer;
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return Failed();
    }
    for (;;) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request.get(), &available)) {
            return Failed();
        }
        if (available == 0) {
            break;
        }
        const std::size_t at = answer.Body.size();
        answer.Body.resize(at + available);
        DWORD read = 0;
        if (!WinHttpReadData(request.get(), answer.Body.data() + at, available, &read)) {
            return Failed();
        }
        answer.Body.resize(at + read);
    }
    answer.Status = static_cast<int>(status);
    return answer;
}
