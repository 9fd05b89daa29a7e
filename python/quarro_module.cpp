// The module `quarro`: the morph engine, morph documents and picture files for numpy arrays.
#include <dlfcn.h>
#include <pybind11/pybind11.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "image/decode_client.h"
#include "morph/fast_sqrt.h"
#include "python/bindings.h"
#include "python/frame_arguments.h"

namespace {

// `path` with every link and relative step resolved, or "" when it does not exist.
std::string RealPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return "";
    std::string result = resolved;
    std::free(resolved);
    return result;
}

// The folder this module was loaded from, or "" when it cannot be told.
std::string ModuleFolder() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) == 0 || info.dli_fname == nullptr) return "";
    std::string file = RealPath(info.dli_fname);
    size_t slash = file.find_last_of('/');
    return slash == std::string::npos ? "" : file.substr(0, slash);
}

// Pictures are decoded by the helper program the package carries: libexec/quarro-decode in
// the folder of this extension, in the build tree as in an installation or a wheel, and no
// other (a missing one makes reads fail, naming it). The process is the interpreter, so the
// helper is not beside the running program.
void UseOwnImageDecoder() {
    std::string folder = ModuleFolder();
    if (!folder.empty()) SetImageDecoderPath(folder + "/libexec/quarro-decode");
}

}  // namespace

PYBIND11_MODULE(_quarro, module) {
    // The warp's square-root table, filled before the first engine thread exists.
    InitFastSqrt();
    UseOwnImageDecoder();
    InitFrameArguments();
    module.attr("__version__") = QUARRO_VERSION;
    module.doc() =
        "Quarro's morph engine for numpy arrays: morph() and sequence() render frames that are byte for\n"
        "byte those of quarro-render; read_image(), write_image(), read_document(), write_document() and\n"
        "write_animation() go through the program's own file layer and animation writer.";
    AddMorphFunctions(module);
    AddFileFunctions(module);
    AddAnimationFunctions(module);
}
