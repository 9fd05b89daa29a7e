// The module `quarro`: the morph engine, morph documents and picture files for numpy arrays.
#include <dlfcn.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

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

// The folder of this module's real file; the loader's name for it when that cannot be resolved.
std::string ModuleFolder() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) == 0 || info.dli_fname == nullptr) return ".";
    std::string file = RealPath(info.dli_fname);
    if (file.empty()) file = info.dli_fname;
    size_t slash = file.find_last_of('/');
    return slash == std::string::npos ? "." : file.substr(0, slash);
}

// Pictures are decoded by the helper the module carries in libexec/ beside its own file, in the
// build tree and installed alike. The process is the interpreter, so the helper beside the
// running program is never the module's: the path is set even when nothing is there, and a
// read then says which file is missing.
void UseOwnImageDecoder() { SetImageDecoderPath(ModuleFolder() + "/libexec/quarro-decode"); }

}  // namespace

PYBIND11_MODULE(_quarro, module) {
    // The warp's square-root table, filled before the first engine thread exists.
    InitFastSqrt();
    // numpy's C API is looked up once, behind a static guard. Looked up here, while the import
    // holds the interpreter, no call can later wait for that guard with the interpreter locked
    // while the thread that took it waits for the lock inside numpy's import.
    py::detail::npy_api::get();
    UseOwnImageDecoder();
    // Scripts read pictures one after another: the next one's helper starts while one decodes.
    KeepImageDecoderSpare(true);
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
