// The origin ("scheme://host[:port]") of an http or https address, for a front end whose engine
// does not tell it: the scheme and the host in lower case, the port left out when it is the
// scheme's default, user information dropped. Any other address, or one without a host or with a
// port that is not a number up to 65535, has none (empty). Both the login page's origin and a
// caller's come from here, so they compare alike. Any thread.
#pragma once

#include <string>

namespace browser {

std::string OriginOfUrl(const std::string& url);

}  // namespace browser
