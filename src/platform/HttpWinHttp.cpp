// HTTP through WinHTTP. WinHTTP is told to accept any certificate, and the
// request body goes out only after ServerCertCheck has passed the server's
// certificate, the same check as the mail sessions' (trusted file included).
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "platform/CertCheckWin32.h"
#include "platform/Http.h"
#include "platform/Text.h"

namespace net {
namespace {

std::string narrow(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? n : 1, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, -1, &s[0], n, nullptr, nullptr);
  s.resize(strlen(s.c_str()));
  return s;
}

class Handle {
 public:
  explicit Handle(HINTERNET h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_) WinHttpCloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

bool fail(HttpResponse* response, HttpFailure failure, const std::string& detail) {
  response->failure = failure;
  response->detail = detail;
  response->body.clear();
  return false;
}

HttpFailure failureOf(DWORD error) {
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT: return HttpFailure::kTimedOut;
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR: return HttpFailure::kConnect;
    case ERROR_WINHTTP_SECURE_FAILURE: return HttpFailure::kTls;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return HttpFailure::kBadUrl;
    default: return HttpFailure::kProtocol;
  }
}

bool cancelled(const HttpRequest& request) { return request.cancel && request.cancel->load(); }

}  // namespace

bool platformHttpPost(const HttpRequest& request, HttpResponse* response) {
  const DWORD started = GetTickCount();
  std::wstring url = platform::toWide(request.url.c_str());
  URL_COMPONENTS parts;
  ZeroMemory(&parts, sizeof parts);
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return fail(response, HttpFailure::kBadUrl, "WinHttpCrackUrl");
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  Handle session(WinHttpOpen(L"Quorvel", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return fail(response, HttpFailure::kProtocol, "WinHttpOpen");
  const int t = request.timeoutMs;
  WinHttpSetTimeouts(session.get(), t, t, t, t);
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
#ifdef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
  protocols |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
#endif
  WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  DWORD noRedirect = WINHTTP_DISABLE_REDIRECTS;
  Handle connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return fail(response, failureOf(GetLastError()), "WinHttpConnect");
  LPCWSTR accept[] = {L"application/json", nullptr};
  Handle http(WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER, accept,
                                 secure ? WINHTTP_FLAG_SECURE : 0));
  if (!http) return fail(response, failureOf(GetLastError()), "WinHttpOpenRequest");
  WinHttpSetOption(http.get(), WINHTTP_OPTION_DISABLE_FEATURE, &noRedirect, sizeof noRedirect);
  if (secure) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    WinHttpSetOption(http.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof flags);
  }
  std::wstring headers = L"Content-Type: application/x-www-form-urlencoded\r\n";
  if (!request.authorization.empty()) headers += L"Authorization: " + platform::toWide(request.authorization.c_str()) + L"\r\n";
  // The handshake happens here; the body follows once the certificate passed.
  if (!WinHttpSendRequest(http.get(), headers.c_str(), static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0,
                          static_cast<DWORD>(request.body.size()), 0))
    return fail(response, failureOf(GetLastError()), "WinHttpSendRequest");
  if (secure && request.verify) {
    PCCERT_CONTEXT cert = nullptr;
    DWORD size = sizeof cert;
    if (!WinHttpQueryOption(http.get(), WINHTTP_OPTION_SERVER_CERT_CONTEXT, &cert, &size) || !cert)
      return fail(response, HttpFailure::kTls, "no certificate");
    ServerCertCheck check;
    TlsOptions options;
    options.hostName = narrow(host.c_str());
    options.trustFile = request.trustFile;
    std::string detail;
    TlsFailure verdict = check.start(options, &detail);
    if (verdict == TlsFailure::kNone) verdict = check.check(cert, &detail);
    CertFreeCertificateContext(cert);
    if (verdict != TlsFailure::kNone) {
      const char* what = tlsFailureText(verdict);
      return fail(response, HttpFailure::kTls, std::string(what ? what : "") + " " + detail);
    }
  }
  if (cancelled(request)) return fail(response, HttpFailure::kCancelled, "");
  DWORD written = 0;
  if (!request.body.empty() &&
      !WinHttpWriteData(http.get(), request.body.data(), static_cast<DWORD>(request.body.size()), &written))
    return fail(response, failureOf(GetLastError()), "WinHttpWriteData");
  if (!WinHttpReceiveResponse(http.get(), nullptr))
    return fail(response, failureOf(GetLastError()), "WinHttpReceiveResponse");
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(http.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &status, &size, WINHTTP_NO_HEADER_INDEX);
  response->status = static_cast<int>(status);
  wchar_t type[256] = {};
  size = sizeof type - sizeof(wchar_t);
  if (WinHttpQueryHeaders(http.get(), WINHTTP_QUERY_CONTENT_TYPE, WINHTTP_HEADER_NAME_BY_INDEX, type, &size,
                          WINHTTP_NO_HEADER_INDEX))
    response->contentType = narrow(type);
  char buffer[16384];
  for (;;) {
    if (cancelled(request)) return fail(response, HttpFailure::kCancelled, "");
    if (GetTickCount() - started > static_cast<DWORD>(request.timeoutMs))
      return fail(response, HttpFailure::kTimedOut, "");
    DWORD got = 0;
    if (!WinHttpReadData(http.get(), buffer, sizeof buffer, &got))
      return fail(response, failureOf(GetLastError()), "WinHttpReadData");
    if (got == 0) break;
    if (response->body.size() + got > request.maxBody) return fail(response, HttpFailure::kTooLarge, "");
    response->body.append(buffer, got);
  }
  return true;
}

}  // namespace net
