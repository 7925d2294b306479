#pragma once
// A path kept with '/' separators. '\' is accepted on input, drive letters are
// upper-cased, network shares ("//host/...") are understood, "." components vanish
// and ".." components collapse where there is something to collapse.

#include "quern/Types.h"
#include "quern/strings/String.h"

namespace quern::io {

class FilePath : public strings::String {
public:
    FilePath() = default;
    explicit FilePath(strings::StringRef text) { append(text); }

    // Appends one component or a whole relative or rooted path. An absolute
    // component on a path that is not at a root lands below the path.
    void append(strings::StringRef component);

    // Collapses each component followed by "..". An empty result is ".".
    void normalize();

    // The directory part ("C:/a" -> "C:/", "/a" -> "/", "a" -> empty).
    FilePath parent() const;

    // Where the last component of the first `end` bytes starts.
    u64 fileNamePosition(u64 end) const;

    // The first '/' after the leading "//" of a share (the end of its host name), or -1.
    i64 findUncRootEnd() const;

    // Starts with '/', has ":/" at positions 1-2, or ends with ':'.
    bool isAbsolute() const;
    static bool isAbsolute(strings::StringRef text);

    // The process's current directory; empty when it cannot be queried.
    static FilePath currentDirectory();

private:
    void pushChars(const char* text, u64 count);
    void pushChar(char c);
    void clearText() { erase(0, length()); }
    i64 rootSlash() const;
};

// The path advanced to its file-name position ("dir/file.txt" -> "file.txt").
const char* fileNamePart(const char* path);

// The export scenes list ".QuernExport/scenes.txt" relative to `base`; false (and an
// empty result) when it lies outside the base.
bool exportScenesListPath(const char* base, strings::String& out);

} // namespace quern::io
