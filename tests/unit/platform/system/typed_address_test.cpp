// The address the browser loads for a typed one, the way the original control took it.

#include <gtest/gtest.h>

#include "platform/system/typed_address.h"

TEST(TypedAddress, PathsBecomeFilesBareHostsGetHttpAndSchemesStayAsTyped) {
    const std::pair<const char*, const char*> cases[] = {
        {"/tmp/a b.html", "file:///tmp/a%20b.html"},
        {"example.com/x?q=1", "http://example.com/x?q=1"},
        {"localhost:8080/x", "http://localhost:8080/x"},  // a host with a port, not a scheme
        {"https://example.com/", "https://example.com/"},
        {"  http://example.com/  ", "http://example.com/"},
        {"about:blank", "about:blank"},                   // schemes that never have "//"
        {"MAILTO:ann@example.com", "mailto:ann@example.com"},
        {"view-source:http://example.com/", "view-source:http://example.com/"},
        {"gopher://example.com/1", "gopher://example.com/1"},  // any scheme followed by "//"
        {"tarnwick://start/", "tarnwick://start/"},       // the program's own pages, either way
        {"tarnwick:start", "tarnwick:start"},
        {"ms-settings:privacy", "ms-settings:privacy"},    // no port: a scheme of another program's
        {"tel:+4930123", "tel:+4930123"},
        {"intranet:81", "http://intranet:81"},
    };
    for (const auto& [typed, loaded] : cases)
        EXPECT_EQ(addressToUrl(QString::fromUtf8(typed)).toString(QUrl::FullyEncoded), QString::fromUtf8(loaded)) << typed;

    // Nothing loadable: no address.
    for (const char* typed : {"", "   ", "http://exa mple.com:99999999/"})
        EXPECT_FALSE(addressToUrl(QString::fromUtf8(typed)).isValid()) << typed;
}
