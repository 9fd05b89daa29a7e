"""Quarro's morph engine for numpy arrays.

morph() and sequence() render frames that are byte for byte those of quarro-render;
read_image(), read_images(), write_image(), read_document(), write_document() and write_animation() go
through the program's own file layer and animation writer; pairs_from_pixels() turns pairs
placed in pixels (y down) into the normalized units of documents.
"""
from quarro import _quarro
from quarro._calls import friendly
from quarro._quarro import Sequence, __version__

morph = friendly(_quarro.morph)
pairs_from_pixels = friendly(_quarro.pairs_from_pixels)
read_document = friendly(_quarro.read_document)
read_image = friendly(_quarro.read_image)
read_images = friendly(_quarro.read_images)
sequence = friendly(_quarro.sequence)
write_animation = friendly(_quarro.write_animation)
write_document = friendly(_quarro.write_document)
write_image = friendly(_quarro.write_image)

__all__ = [
    "Sequence",
    "__version__",
    "morph",
    "pairs_from_pixels",
    "read_document",
    "read_image",
    "read_images",
    "sequence",
    "write_animation",
    "write_document",
    "write_image",
]
