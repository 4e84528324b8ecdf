// Reading one value out of the text of a profile (INI) file, the way the
// Windows profile functions read it. Pure: works on bytes already in memory.
//
// The text is read as follows:
//  1. Lines end at CR, LF or any run of them; the last line needs no end.
//     Blanks are space, TAB, VT and FF; every line is trimmed of them at both
//     ends, and empty lines are skipped. Other bytes are opaque (a UTF-8 byte
//     order mark stays part of line 1, so a header there is not recognised).
//  2. A line starting with '[' is a section header. The name runs to the
//     first ']' (the rest of the line is ignored) or, without one, to the end
//     of the line; blanks inside the brackets are trimmed. "[]" names the
//     section "". Lines before the first header belong to no section.
//  3. A line starting with ';' is a comment. '#' is an ordinary character and
//     there are no comments at the end of a line.
//  4. Any other line with an '=' is a key line: the key is the text before
//     the first '=' (trailing blanks removed), the value the text after it
//     (leading blanks removed). "k=" has the empty value; a line without '='
//     is no key at all.
//  5. Only the first section of a name is searched, and within it the first
//     key of the name wins.
//  6. A found value of two or more characters that begins and ends with the
//     same quote (" or ') loses that one pair.
// A text that starts with the bytes FF FE is UTF-16LE: it is first brought to
// single bytes (characters U+0000..U+007F and U+00A0..U+00FF as their byte,
// any other character as '?') and then read as above.
#ifndef TALVO_PLATFORM_PROFILE_FILE_H_
#define TALVO_PLATFORM_PROFILE_FILE_H_

#include <optional>
#include <string>
#include <string_view>

namespace talvo {

// Looks up `key` in the first section named `section` of `content`.
// Returns the value (blanks trimmed, one pair of matching quotes removed), or
// nothing when the section or the key is missing. Names compare without regard
// to ASCII letter case; spaces (only 0x20) around the names passed in are
// ignored, while any other blank in them is part of the name.
// Runs in one pass over `content` and allocates only the result (plus one
// single-byte copy of a UTF-16LE text).
std::optional<std::string> FindProfileValue(std::string_view content, std::string_view section,
                                            std::string_view key);

}  // namespace talvo

#endif  // TALVO_PLATFORM_PROFILE_FILE_H_
