// The module `quarro`: the morph engine, morph documents and picture files for numpy arrays.
#include <pybind11/pybind11.h>

#include "morph/fast_sqrt.h"
#include "python/bindings.h"

PYBIND11_MODULE(quarro, module) {
    // The warp's square-root table, filled before the first engine thread exists.
    InitFastSqrt();
    module.doc() =
        "Quarro's morph engine for numpy arrays: morph() and sequence() render frames that are byte for\n"
        "byte those of quarro-render; read_image(), write_image(), read_document() and write_document()\n"
        "go through the program's own file layer.";
    AddMorphFunctions(module);
    AddFileFunctions(module);
}
