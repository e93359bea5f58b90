#include "platform/WatchTree.h"

#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace tavrin {

std::string JoinRelative(const std::string& folder, const std::string& name) {
    return folder.empty() ? name : folder + "/" + name;
}

bool IsBelow(const std::string& path, const std::string& folder) {
    if (folder.empty())
        return !path.empty();
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0 &&
           path[folder.size()] == '/';
}

int DepthOf(const std::string& folder) {
    if (folder.empty())
        return 0;
    int depth = 1;
    for (char c : folder)
        depth += c == '/' ? 1 : 0;
    return depth;
}

bool IsHiddenName(const std::string& name) {
    return !name.empty() && name[0] == '.';
}

TFolderEntries ListFolderEntries(const std::string& path) {
    TFolderEntries entries;
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr)
        return entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            if (!IsHiddenName(name))
                entries.folders.push_back(name);
            continue;
        }
        // A link is a file when what it points to is one.
        if (S_ISLNK(info.st_mode) && ::fstatat(::dirfd(dir), entry->d_name, &info, 0) != 0)
            continue;
        if (S_ISREG(info.st_mode))
            entries.files.push_back(name);
    }
    ::closedir(dir);
    // In name order, so a walk that stops part-way (the watch limit) stops at the same place.
    std::sort(entries.folders.begin(), entries.folders.end());
    return entries;
}

void TWatchTree::Clear() {
    byWd_.clear();
    byFolder_.clear();
}

bool TWatchTree::Add(int wd, const std::string& folder) {
    if (byWd_.count(wd) != 0 || byFolder_.count(folder) != 0)
        return false;
    byWd_.emplace(wd, folder);
    byFolder_.emplace(folder, wd);
    return true;
}

const std::string* TWatchTree::FolderOf(int wd) const {
    auto it = byWd_.find(wd);
    return it == byWd_.end() ? nullptr : &it->second;
}

std::vector<int> TWatchTree::TakeSubtree(const std::string& folder) {
    std::vector<int> taken;
    for (auto it = byFolder_.lower_bound(folder); it != byFolder_.end();) {
        if (it->first != folder && !IsBelow(it->first, folder)) {
            // "a/b" sorts before "a-c" but "a!" sorts between "a" and "a/": skip, not stop.
            if (it->first.compare(0, folder.size(), folder) != 0)
                break;
            ++it;
            continue;
        }
        taken.push_back(it->second);
        byWd_.erase(it->second);
        it = byFolder_.erase(it);
    }
    return taken;
}

std::vector<int> TWatchTree::WatchesNotIn(const TWatchTree& other) const {
    std::vector<int> watches;
    for (const auto& [wd, folder] : byWd_)
        if (other.byWd_.count(wd) == 0)
            watches.push_back(wd);
    return watches;
}

std::vector<std::string> TakeBelow(std::set<std::string>& paths, const std::string& folder) {
    std::vector<std::string> taken;
    for (auto it = paths.lower_bound(folder); it != paths.end();) {
        if (!IsBelow(*it, folder)) {
            if (it->compare(0, folder.size(), folder) != 0)
                break;
            ++it;
            continue;
        }
        taken.push_back(*it);
        it = paths.erase(it);
    }
    return taken;
}

} // namespace tavrin
