// SHA-256 digests of whole buffers, for checking downloads against the
// digests that the library index and the update feed publish.
#pragma once

#include <string>
#include <string_view>

namespace kestal {

// The SHA-256 digest of the bytes as 64 lowercase hexadecimal digits (the
// eight state words in order, 8 digits each). Every input has one; callers
// compare it with the expected digest lowercased.
std::string sha256_hex(std::string_view bytes);

// Whether the text has the form of a digest: 64 hexadecimal digits, of
// either case.
bool is_sha256_text(std::string_view text);

} // namespace kestal
