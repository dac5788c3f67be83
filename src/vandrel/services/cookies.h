// Cookies: <@cookie> reads one request cookie into a variable;
// X_set_cookies sends the variables named by X_ServerCOOKIES and
// X_SessionCOOKIES back as Set-Cookie header lines.
#ifndef VANDREL_SERVICES_COOKIES_H_
#define VANDREL_SERVICES_COOKIES_H_

#include <cstddef>
#include <string>

struct X_FILE;

// A cookie name holds at most this many characters (the rest is cut).
constexpr int kMaxCookieName = 199;
// A cookie value read from the request keeps at most 8191 bytes, before its
// escapes are decoded.
constexpr size_t kMaxCookieValue = 8191;
// A Set-Cookie line, name and encoded value included, fits in this buffer.
constexpr size_t kCookieHeaderSize = 8192;

// <@cookie> NAME: sets NAME from the request cookie of that name (the empty
// text when HTTP_COOKIE lacks it).
int X_cookie(X_FILE* file, char* line, int& compile, int ignore);

// Prints the Set-Cookie lines for X_ServerCOOKIES, then X_SessionCOOKIES.
// A name beginning with "X_", or holding a control byte, DEL, a blank, ";",
// "," or "=", is not sent (only traced).
void X_set_cookies();

// The value of cookie `name` in `cookies` (an HTTP_COOKIE text, may be
// nullptr): the text after the first "name=" anywhere in it, up to the next
// ";" or the end, cut to kMaxCookieValue bytes and URL-decoded; "" when the
// name does not occur.
std::string X_cookie_value(const char* cookies, const char* name);

// The Set-Cookie line for cookie `name` with `value` (nullptr or "" deletes
// the cookie), for a server (2037 expiry) or a session cookie. The encoded
// value is cut at a whole escape so that the line fits in
// kCookieHeaderSize bytes (with its NUL) whenever the name leaves room.
std::string X_cookie_header(const char* name, const char* value, bool session);

#endif  // VANDREL_SERVICES_COOKIES_H_
