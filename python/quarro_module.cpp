// The module `quarro`: the morph engine, morph documents and picture files for numpy arrays.
#include <dlfcn.h>
#include <pybind11/pybind11.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "image/decode_client.h"
#include "morph/fast_sqrt.h"
#include "python/bindings.h"

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

// Pictures are decoded by the helper program of the same build: the build tree's beside a
// module loaded from the build tree, the installed one beside an installed module. The
// process is the interpreter, so the helper is not beside the running program.
void UseOwnImageDecoder() {
    std::string folder = ModuleFolder();
    std::string helper = folder == RealPath(QUARRO_MODULE_BUILD_DIR) ? QUARRO_DECODER_BUILD_PATH
                                                           : folder + "/" + QUARRO_DECODER_FROM_MODULE;
    if (!folder.empty() && access(helper.c_str(), X_OK) == 0) SetImageDecoderPath(helper);
}

}  // namespace

PYBIND11_MODULE(quarro, module) {
    // The warp's square-root table, filled before the first engine thread exists.
    InitFastSqrt();
    UseOwnImageDecoder();
    module.doc() =
        "Quarro's morph engine for numpy arrays: morph() and sequence() render frames that are byte for\n"
        "byte those of quarro-render; read_image(), write_image(), read_document() and write_document()\n"
        "go through the program's own file layer.";
    AddMorphFunctions(module);
    AddFileFunctions(module);
}
