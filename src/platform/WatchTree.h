#pragma once
// The bookkeeping of a watch over a folder tree: which inotify watch stands for which folder,
// and how relative paths below the watched folder are made and compared. Relative paths are
// '/'-separated; the watched folder itself is "".
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tavrin {

// "sub" + "a.txt" = "sub/a.txt"; "" + "a.txt" = "a.txt".
std::string JoinRelative(const std::string& folder, const std::string& name);
// True when `path` lies below `folder` (not when it is `folder` itself); everything lies
// below "".
bool IsBelow(const std::string& path, const std::string& folder);
// Levels below the watched folder: "" is 0, "a" is 1, "a/b" is 2.
int DepthOf(const std::string& folder);
// Names starting with "." are no folders of the tree.
bool IsHiddenName(const std::string& name);

// One folder's entries: regular files (a link to one counts, as it always has) and the
// folders a tree descends into (real folders, not links to them, and not hidden ones).
struct TFolderEntries {
    std::vector<std::string> files;
    std::vector<std::string> folders;
};
TFolderEntries ListFolderEntries(const std::string& path);

// Watch descriptor <-> relative folder, both ways.
class TWatchTree {
public:
    void Clear();
    // False when `wd` or `folder` is already in the tree (nothing changes then).
    bool Add(int wd, const std::string& folder);
    // The folder of a watch, or null for a watch that is no longer in the tree.
    const std::string* FolderOf(int wd) const;
    bool Has(const std::string& folder) const { return byFolder_.count(folder) != 0; }
    size_t Size() const { return byWd_.size(); }
    // Removes `folder` and every folder below it; returns their watches.
    std::vector<int> TakeSubtree(const std::string& folder);
    // The watches of this tree that `other` does not hold.
    std::vector<int> WatchesNotIn(const TWatchTree& other) const;

private:
    std::map<int, std::string> byWd_;
    std::map<std::string, int> byFolder_;
};

// Removes every path of `paths` that lies below `folder` and returns them in order.
std::vector<std::string> TakeBelow(std::set<std::string>& paths, const std::string& folder);

} // namespace tavrin
