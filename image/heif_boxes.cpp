// HEIF box tree; see heif_boxes.h.
#include "image/heif_boxes.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const char* const kHeifBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs",
                                   "mif1", "msf1", "avif", "avis"};

struct Box {
    uint64_t body = 0;   // offset of the first byte after the header
    uint64_t end = 0;    // offset just past the box
    char type[5] = {};
};

// The box starting at `at` within [.., limit). A size of 0 runs to `limit`; a box may claim more
// than the bytes given (its body is then only partly readable), never more than its parent.
bool ReadBox(const ByteReader& bytes, uint64_t at, uint64_t limit, Box& box) {
    long long size;
    if (!bytes.U32(at, true, size) || !bytes.Has(at + 4, 4)) return false;
    for (int i = 0; i < 4; ++i) box.type[i] = static_cast<char>(bytes.data()[at + 4 + i]);
    uint64_t header = 8;
    if (size == 1) {
        if (!bytes.U64(at + 8, true, size)) return false;
        header = 16;
    } else if (size == 0) {
        size = static_cast<long long>(limit - at);
    }
    if (static_cast<uint64_t>(size) < header || static_cast<uint64_t>(size) > limit - at) return false;
    box.body = at + header;
    box.end = at + static_cast<uint64_t>(size);
    return true;
}

// The first child of type `type` among the boxes in [from, to).
bool FindChild(const ByteReader& bytes, uint64_t from, uint64_t to, const char* type, Box& found) {
    Box box;
    for (uint64_t at = from; at < to && ReadBox(bytes, at, to, box); at = box.end) {
        if (std::memcmp(box.type, type, 4) == 0) {
            found = box;
            return true;
        }
    }
    return false;
}

// The one-based indices into 'ipco' of the properties the 'ipma' boxes give item `item`.
std::vector<long long> PropertiesOf(const ByteReader& bytes, const Box& iprp, long long item) {
    std::vector<long long> indices;
    Box ipma;
    for (uint64_t at = iprp.body; at < iprp.end && ReadBox(bytes, at, iprp.end, ipma); at = ipma.end) {
        if (std::memcmp(ipma.type, "ipma", 4) != 0) continue;
        long long version, entries;
        uint64_t flags;
        if (!bytes.U8(ipma.body, version) || !bytes.Unsigned(ipma.body + 1, 3, true, flags) ||
            !bytes.U32(ipma.body + 4, true, entries)) {
            continue;
        }
        uint64_t p = ipma.body + 8;
        int idBytes = version < 1 ? 2 : 4, indexBytes = (flags & 1) ? 2 : 1;
        for (long long e = 0; e < entries; ++e) {
            uint64_t id, count;
            if (p >= ipma.end || !bytes.Unsigned(p, idBytes, true, id) || !bytes.Unsigned(p + idBytes, 1, true, count)) break;
            p += static_cast<uint64_t>(idBytes) + 1;
            for (uint64_t a = 0; a < count; ++a, p += static_cast<uint64_t>(indexBytes)) {
                uint64_t value;
                if (p + indexBytes > ipma.end || !bytes.Unsigned(p, indexBytes, true, value)) return indices;
                // The top bit says whether the property is essential; the rest is the index.
                uint64_t mask = (uint64_t{1} << (8 * indexBytes - 1)) - 1;
                if (static_cast<long long>(id) == item) indices.push_back(static_cast<long long>(value & mask));
            }
        }
    }
    return indices;
}

}  // namespace

bool IsHeifFile(const ByteReader& bytes, bool* av1) {
    long long size;
    if (!bytes.Matches(4, "ftyp", 4) || !bytes.U32(0, true, size)) return false;
    uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(size), bytes.size());
    bool heif = false, avif = false;
    // The major brand, the minor version (passed over), then the compatible brands.
    for (uint64_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4) {
        for (const char* brand : kHeifBrands) {
            if (!bytes.Matches(at, brand, 4)) continue;
            heif = true;
            avif = avif || brand[0] == 'a';
        }
    }
    if (av1 != nullptr) *av1 = avif;
    return heif;
}

bool HeifPrimarySize(const ByteReader& bytes, long long& width, long long& height) {
    Box meta, pitm, iprp, ipco;
    if (!FindChild(bytes, 0, bytes.size(), "meta", meta)) return false;
    uint64_t children = meta.body + 4;  // meta is a full box: version and flags come first
    long long version, primary;
    if (!FindChild(bytes, children, meta.end, "pitm", pitm) || !bytes.U8(pitm.body, version)) return false;
    if (!(version == 0 ? bytes.U16(pitm.body + 4, true, primary) : bytes.U32(pitm.body + 4, true, primary))) return false;
    if (!FindChild(bytes, children, meta.end, "iprp", iprp) || !FindChild(bytes, iprp.body, iprp.end, "ipco", ipco)) {
        return false;
    }
    std::vector<Box> properties;
    Box box;
    for (uint64_t at = ipco.body; at < ipco.end && ReadBox(bytes, at, ipco.end, box); at = box.end) properties.push_back(box);
    for (long long index : PropertiesOf(bytes, iprp, primary)) {
        if (index < 1 || index > static_cast<long long>(properties.size())) continue;
        const Box& property = properties[static_cast<size_t>(index - 1)];
        if (std::memcmp(property.type, "ispe", 4) != 0) continue;
        return bytes.U32(property.body + 4, true, width) && bytes.U32(property.body + 8, true, height);
    }
    return false;
}

bool HeifDerivedReferences(const ByteReader& bytes, long long& references, long long& distinct) {
    references = distinct = 0;
    Box meta, iref, box;
    long long version;
    if (!FindChild(bytes, 0, bytes.size(), "meta", meta) || !FindChild(bytes, meta.body + 4, meta.end, "iref", iref) ||
        !bytes.U8(iref.body, version)) {
        return false;
    }
    int idBytes = version == 0 ? 2 : 4;
    std::vector<uint64_t> named;
    for (uint64_t at = iref.body + 4; at < iref.end && ReadBox(bytes, at, iref.end, box); at = box.end) {
        uint64_t count;
        if (std::memcmp(box.type, "dimg", 4) != 0 || !bytes.Unsigned(box.body + idBytes, 2, true, count)) continue;
        for (uint64_t i = 0, p = box.body + idBytes + 2; i < count && p + idBytes <= box.end; ++i, p += idBytes) {
            uint64_t id;
            if (!bytes.Unsigned(p, idBytes, true, id)) break;
            ++references;
            named.push_back(id);
        }
    }
    std::sort(named.begin(), named.end());
    distinct = static_cast<long long>(std::unique(named.begin(), named.end()) - named.begin());
    return true;
}
