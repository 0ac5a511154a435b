// library/build_git.h: the repository record of the build, read from the checkout when the
// build was configured (boot/git_record.cmake writes it); system/build/git shows it.
#pragma once

#include <cstdint>

namespace zyl::build_git {

// Texts are nullptr when git had nothing to say (no tag, say); [ahead] is -1 then.
struct record {
    bool present;        // false outside a checkout: the other fields are empty
    const char* branch;  // the branch checked out, or "HEAD" when detached
    const char* tag;     // the last tag reachable from the commit
    int32_t ahead;       // commits since that tag (since the root when there is none)
    const char* date;    // the commit date, ISO 8601 with its zone
    const char* commit;  // the full hash, in hexadecimal
    const char* message; // the commit's subject line
};

extern const record repository;

} // namespace zyl::build_git
