// A benchmark's own scratch folder: made fresh under Parent (mkdtemp, so two
// runs never share one) on first use, and removed with everything in it when
// the program ends. Empty when it cannot be made.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace bench {

class ScratchFolder {
  public:
    ScratchFolder(const std::string &Parent, const std::string &Stem) {
        std::string Template = Parent + "/" + Stem + "-XXXXXX";
        if (mkdtemp(Template.data()) != nullptr) Path = Template;
    }
    ~ScratchFolder() {
        std::error_code Ignored;
        if (!Path.empty()) std::filesystem::remove_all(Path, Ignored);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;
    std::string operator/(const std::string &Name) const { return Path + "/" + Name; }
    std::string Path;
};

} // namespace bench
