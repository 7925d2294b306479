#include "quern/io/FilePath.h"

#include "quern/platform/CurrentDirectory.h"

#include <cstring>

namespace quern::io {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

char toUpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool isDotDotAt(const char* p, u64 length, u64 at)
{
    return at + 3 <= length && p[at] == '/' && p[at + 1] == '.' && p[at + 2] == '.' &&
           (at + 3 == length || p[at + 3] == '/');
}

} // namespace

void FilePath::pushChars(const char* text, u64 count)
{
    if (count != 0)
        strings::String::append(text, text + count);
}

void FilePath::pushChar(char c) { pushChars(&c, 1); }

void FilePath::append(strings::StringRef component)
{
    const char* c = component.data();
    const u64 n = component.length();
    u64 i = 0;

    // Root name: a drive letter or a share's host.
    if (n >= 2) {
        if (c[1] == ':') {
            pushChar(toUpperAscii(c[0]));
            pushChar(':');
            i = 2;
        } else if (isSeparator(c[0]) && c[0] == c[1]) {
            pushChars("//", 2);
            i = 2;
            const u64 hostStart = i;
            while (i < n && !isSeparator(c[i]))
                ++i;
            pushChars(c + hostStart, i - hostStart);
        }
    }

    // Root directory: only where the path is at a root; elsewhere the separator is
    // dropped so the component lands below the path.
    if (i < n && isSeparator(c[i])) {
        ++i;
        const u64 len = length();
        const char* p = c_str();
        const bool atRoot = len == 0 || p[len - 1] == ':' ||
                            (len > 2 && p[0] == '/' && p[1] == '/' && findUncRootEnd() == -1);
        if (atRoot)
            pushChar('/');
    }

    while (i < n) {
        u64 end = i;
        while (end < n && !isSeparator(c[end]))
            ++end;
        const u64 count = end - i;
        i = end < n ? end + 1 : end;
        if (count == 0)
            continue; // doubled separator

        if (length() == 1 && c_str()[0] == '.')
            clearText();
        if (count == 1 && c[end - 1] == '.') {
            if (length() == 0)
                pushChar('.');
            continue;
        }
        if (length() != 0 && c_str()[length() - 1] != '/')
            pushChar('/');
        pushChars(c + end - count, count);
    }

    // ".." directly after a drive root has nothing to climb to.
    while (length() >= 3 && c_str()[1] == ':' && isDotDotAt(c_str(), length(), 2))
        erase(3, 3);
}

i64 FilePath::findUncRootEnd() const
{
    const char* p = c_str();
    for (u64 i = 2; i < length(); ++i) {
        if (p[i] == '/')
            return static_cast<i64>(i);
    }
    return -1;
}

// Where the root's own '/' stands, or -1 for a relative path.
i64 FilePath::rootSlash() const
{
    const char* p = c_str();
    const u64 len = length();
    if (len >= 3 && p[0] != '/' && p[1] == ':')
        return p[2] == '/' ? 2 : -1;
    if (len > 2 && p[0] == '/' && p[1] == '/')
        return findUncRootEnd();
    return (len != 0 && p[0] == '/') ? 0 : -1;
}

void FilePath::normalize()
{
    if (length() == 0)
        return;
    const u64 start = (length() >= 3 && c_str()[0] != '/' && c_str()[1] == ':') ? 2 : 0;
    const i64 root = rootSlash();

    u64 from = 0;
    for (;;) {
        const char* p = c_str();
        const u64 len = length();
        u64 b = from;
        while (b + 3 <= len && !(p[b] == '/' && p[b + 1] == '.' && p[b + 2] == '.'))
            ++b;
        if (b + 3 > len)
            break;
        u64 e = b + 3;

        const bool leadingOrRepeated = (b == 1 && p[0] == '.') || (b == 2 && p[0] == '.' && p[1] == '.') ||
                                       (b > 2 && p[b - 3] == '/' && p[b - 2] == '.' && p[b - 1] == '.');
        if (leadingOrRepeated || (e < len && p[e] != '/')) {
            from = e;
            continue;
        }
        if (e < len)
            ++e; // the separator after ".." goes with it

        if (root >= 0 && b == static_cast<u64>(root)) {
            // A root has no parent: drop the ".." and keep the root.
            erase(b + 1, e - (b + 1));
            from = b;
            continue;
        }
        u64 componentStart = start;
        for (u64 k = b; k > start; --k) {
            if (p[k - 1] == '/') {
                componentStart = k;
                break;
            }
        }
        erase(componentStart, e - componentStart);
        from = componentStart > 0 ? componentStart - 1 : 0;
    }

    if (length() == 0)
        pushChar('.');
    const u64 significant = length() - ((length() >= 2 && c_str()[1] == ':') ? 2 : 0);
    if (significant > 1 && c_str()[length() - 1] == '/')
        erase(length() - 1, 1);
}

u64 FilePath::fileNamePosition(u64 end) const
{
    const char* p = c_str();
    if (end > length())
        end = length();
    if (end > 0 && p[end - 1] == '/')
        return end - 1;

    i64 pos = -1;
    for (u64 k = end; k > 0; --k) {
        if (p[k - 1] == '/') {
            pos = static_cast<i64>(k - 1);
            break;
        }
    }
    if (pos < 0) {
        for (u64 k = end >= 1 ? end - 1 : 0; k > 0; --k) {
            if (p[k - 1] == ':') {
                pos = static_cast<i64>(k - 1);
                break;
            }
        }
    }
    if (pos < 0 || (pos == 1 && p[0] == '/'))
        return 0;
    return static_cast<u64>(pos) + 1;
}

FilePath FilePath::parent() const
{
    const char* p = c_str();
    u64 n = fileNamePosition(length());
    if (n > 0 && p[n - 1] == '/') {
        const bool rootSeparator = n == 1 || (n >= 2 && p[n - 2] == ':') ||
                                   (length() > 2 && p[0] == '/' && p[1] == '/' &&
                                    static_cast<i64>(n - 1) == findUncRootEnd());
        if (!rootSeparator)
            --n;
    }
    FilePath result;
    result.append(strings::StringRef{p, n});
    return result;
}

bool FilePath::isAbsolute(strings::StringRef text)
{
    const char* p = text.data();
    const u64 n = text.length();
    return (n >= 1 && (p[0] == '/' || p[0] == '\\')) ||
           (n >= 3 && p[1] == ':' && (p[2] == '/' || p[2] == '\\')) || (n >= 1 && p[n - 1] == ':');
}

bool FilePath::isAbsolute() const { return isAbsolute(strings::StringRef{c_str(), length()}); }

FilePath FilePath::currentDirectory()
{
    FilePath result;
    char buffer[platform::kMaxCurrentDirectoryBytes];
    if (platform::getCurrentDirectory(buffer, sizeof(buffer)))
        result.append(strings::StringRef{buffer, std::strlen(buffer)});
    return result;
}

const char* fileNamePart(const char* path)
{
    FilePath copy;
    copy.strings::String::append(path, nullptr);
    return path + copy.fileNamePosition(copy.length());
}

bool exportScenesListPath(const char* base, strings::String& out)
{
    FilePath path;
    path.append(strings::StringRef{".QuernExport/scenes.txt", 23});
    path.normalize();
    out.assign("");
    if (!path.isAbsolute()) {
        out.strings::String::append(path.c_str(), nullptr);
        return true;
    }
    FilePath basePath;
    basePath.append(strings::StringRef{base, std::strlen(base)});
    basePath.normalize();
    const u64 baseLength = basePath.length();
    if (path.length() > baseLength && std::strncmp(path.c_str(), basePath.c_str(), baseLength) == 0) {
        out.strings::String::append(path.c_str() + baseLength + 1, nullptr);
        return true;
    }
    return false;
}

} // namespace quern::io
