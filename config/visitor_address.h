// Whose request this is: the address the guessing limit counts and the host
// a post stores. Behind a reverse proxy every request comes from the proxy;
// only a proxy the owner named is believed about the visitor behind it.
#pragma once

#include <string>
#include <vector>

// A numeric address's bytes: 4 for IPv4 (an IPv4-mapped IPv6 address
// included), else 16; brackets around an IPv6 address allowed. The empty
// text when `text` is no numeric address.
std::string addressBytes(std::string text);

// The address `bytes` (4 or 16 of them) written out.
std::string addressText(const std::string& bytes);

// The proxies of GuestBook.conf's TRUSTED_PROXY lines, as numeric addresses.
class TrustedProxies {
public:
    // Adds every blank-separated address of `words`; returns how many of
    // them were not addresses (those are left out).
    int addAll(const char* words);

    bool contains(const char* address) const;
    bool empty() const { return addresses_.empty(); }

private:
    // Each address as inet_pton gives it: 4 or 16 bytes.
    std::vector<std::string> addresses_;
};

// The visitor's address. From a trusted proxy (`remoteAddr` among
// `trusted`): the last address of `forwardedFor` (X-Forwarded-For) that is
// not itself trusted, written as the address it is; when every address is
// trusted, the first. Otherwise, and when the header is missing or what the
// walk meets is no address, `remoteAddr` as given (the empty text for null).
std::string visitorAddress(const char* remoteAddr, const char* forwardedFor, const TrustedProxies& trusted);

// True when the request came through a trusted proxy that named a visitor.
bool forwardedByTrustedProxy(const char* remoteAddr, const char* forwardedFor, const TrustedProxies& trusted);
