// Replacing a small file so that it is either wholly the old or wholly the new content.
//
// The content goes to a new hidden file in the target's folder, is flushed to the disk and
// closed, and only then renamed over the target. Any failure removes the new file and leaves
// the old one as it was. An existing target keeps its permission bits (and, when we may, its
// owner); an existing target we may not write is refused, as truncating it would have been.
// A symbolic link as the target is followed: the file it points to is replaced, not the link.
#pragma once

#include <string>
#include <string_view>

// False when the file could not be replaced; *reason (when given) then says why.
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string* reason);
