// The registry stand-in's store on disk and the files kept beside it (its lock, a half-written
// temporary, copies set aside). Header-only, so that the fuzz targets can use it too.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32.h"

inline std::string StoreDirectory() {
    const std::string path = standin::RegistryFilePath();
    return path.substr(0, path.rfind('/'));
}

// The paths of the files beside the store whose names begin with `prefix`, in name order.
inline std::vector<std::string> StoreFiles(const std::string& prefix) {
    const std::string directory = StoreDirectory();
    std::vector<std::string> paths;
    if (DIR* d = opendir(directory.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.compare(0, prefix.size(), prefix) == 0) paths.push_back(directory + "/" + name);
        }
        closedir(d);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}
