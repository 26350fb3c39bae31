#include "acquisition/recording/HDF5DataSetChecks.h"

#include <hdf5.h>

#include <cstddef>
#include <sstream>
#include <utility>
#include <vector>

namespace tavorin {

namespace {

// The stored types each memory type accepts: the standard types, in either byte order. Depth,
// camera parameters and timestamps (read as floats): every standard integer of 8 to 64 bits,
// signed or unsigned, and 32- or 64-bit IEEE floats; the library converts each of them to the
// nearest float, and depths in millimetres, intrinsics and timestamps lie far inside the range
// where that is exact enough. Raw calibration and colour (unsigned bytes): unsigned bytes only.
// Anything else is refused: another precision or bit offset (the library's conversion of a
// 142-bit integer held in 2 bytes overruns its buffers), signed bytes that would be clamped,
// other float layouts, strings and compound types.
std::vector<hid_t> acceptedTypes(RecordingMemoryType memory)
{
    if (memory == RecordingMemoryType::Bytes)
        return {H5T_STD_U8LE, H5T_STD_U8BE};
    return {H5T_STD_U8LE,  H5T_STD_U8BE,  H5T_STD_I8LE,  H5T_STD_I8BE,  H5T_STD_U16LE,  H5T_STD_U16BE,
            H5T_STD_I16LE, H5T_STD_I16BE, H5T_STD_U32LE, H5T_STD_U32BE, H5T_STD_I32LE,  H5T_STD_I32BE,
            H5T_STD_U64LE, H5T_STD_U64BE, H5T_STD_I64LE, H5T_STD_I64BE, H5T_IEEE_F32LE, H5T_IEEE_F32BE,
            H5T_IEEE_F64LE, H5T_IEEE_F64BE};
}

const char* acceptedText(RecordingMemoryType memory)
{
    if (memory == RecordingMemoryType::Bytes)
        return "unsigned 8-bit integers";
    return "standard integers of 8 to 64 bits or 32- or 64-bit IEEE floats";
}

// The text of `key` in a table of (key, text) pairs, `otherwise` for a key it lacks.
template <typename Key, std::size_t N>
const char* textOf(const std::pair<Key, const char*> (&table)[N], Key key, const char* otherwise)
{
    for (const auto& [entry, text] : table)
        if (entry == key)
            return text;
    return otherwise;
}

const char* byteOrderText(H5T_order_t order)
{
    static constexpr std::pair<H5T_order_t, const char*> kTexts[] = {
        {H5T_ORDER_LE, "little-endian"}, {H5T_ORDER_BE, "big-endian"}, {H5T_ORDER_VAX, "VAX order"},
        {H5T_ORDER_MIXED, "mixed order"}};
    return textOf(kTexts, order, "no byte order");
}

// The classes other than integers and floats, whose layout the messages do not describe.
const char* classText(H5T_class_t typeClass)
{
    static constexpr std::pair<H5T_class_t, const char*> kTexts[] = {
        {H5T_TIME, "time values"},       {H5T_STRING, "strings"},         {H5T_BITFIELD, "bit fields"},
        {H5T_OPAQUE, "opaque values"},   {H5T_COMPOUND, "compound values"}, {H5T_REFERENCE, "references"},
        {H5T_ENUM, "enumerations"},      {H5T_VLEN, "variable-length values"}, {H5T_ARRAY, "arrays"}};
    return textOf(kTexts, typeClass, "values of an unknown class");
}

// "142-bit unsigned integers (2 bytes, little-endian, bit offset 0)"; floats add their fields.
std::string describeType(hid_t type)
{
    const H5T_class_t typeClass = H5Tget_class(type);
    if (typeClass != H5T_INTEGER && typeClass != H5T_FLOAT)
        return classText(typeClass);
    std::ostringstream text;
    text << H5Tget_precision(type) << "-bit ";
    if (typeClass == H5T_INTEGER)
        text << (H5Tget_sign(type) == H5T_SGN_NONE ? "unsigned integers" : "signed integers");
    else
        text << "floats";
    text << " (" << H5Tget_size(type) << " bytes, " << byteOrderText(H5Tget_order(type)) << ", bit offset "
         << H5Tget_offset(type);
    if (typeClass == H5T_FLOAT) {
        std::size_t sign = 0, exponentAt = 0, exponentBits = 0, mantissaAt = 0, mantissaBits = 0;
        H5Tget_fields(type, &sign, &exponentAt, &exponentBits, &mantissaAt, &mantissaBits);
        text << ", sign bit " << sign << ", " << exponentBits << "-bit exponent at bit " << exponentAt << ", "
             << mantissaBits << "-bit mantissa at bit " << mantissaAt;
    }
    text << ")";
    return text.str();
}

// Refuses every external link the library would follow (a negative answer fails the traversal
// before the other file is opened).
herr_t refuseExternalLink(const char*, const char*, const char*, const char*, unsigned*, hid_t, void*)
{
    return -1;
}

// "another.h5:/depth", or "another file" when the link's value cannot be read.
std::string externalTarget(hid_t file, const char* name, std::size_t valueSize)
{
    std::vector<char> value(valueSize + 1, '\0');
    const char* targetFile = nullptr;
    const char* targetObject = nullptr;
    if (H5Lget_val(file, name, value.data(), valueSize, H5P_DEFAULT) < 0
        || H5Lunpack_elink_val(value.data(), valueSize, nullptr, &targetFile, &targetObject) < 0 || !targetFile
        || !targetObject)
        return "another file";
    return std::string(targetFile) + ":" + targetObject;
}

std::string softTarget(hid_t file, const char* name, std::size_t valueSize)
{
    std::vector<char> value(valueSize + 1, '\0');
    if (H5Lget_val(file, name, value.data(), valueSize, H5P_DEFAULT) < 0)
        return "a path that cannot be read";
    return std::string(value.data());
}

bool allowedFilter(H5Z_filter_t filter)
{
    return filter == H5Z_FILTER_DEFLATE || filter == H5Z_FILTER_SHUFFLE || filter == H5Z_FILTER_FLETCHER32;
}

} // namespace

std::string storedTypeFault(std::int64_t set, RecordingMemoryType memory)
{
    const hid_t type = H5Dget_type(set);
    if (type < 0)
        return "has a type the HDF5 library cannot read";
    bool accepted = false;
    for (hid_t candidate : acceptedTypes(memory))
        accepted = accepted || H5Tequal(type, candidate) > 0;
    const std::string fault =
        accepted ? std::string() : "stores " + describeType(type) + "; it must hold " + acceptedText(memory);
    H5Tclose(type);
    return fault;
}

std::string storageFault(std::int64_t set)
{
    constexpr std::size_t kMaxFilterValues = 8;
    const hid_t properties = H5Dget_create_plist(set);
    if (properties < 0)
        return "has storage properties the HDF5 library cannot read";
    std::string fault;
    if (H5Pget_layout(properties) == H5D_VIRTUAL)
        fault = "is a virtual data set over other files; only values inside the recording are read";
    else if (H5Pget_external_count(properties) != 0)
        fault = "keeps its values in external files; only values inside the recording are read";
    const int filters = H5Pget_nfilters(properties);
    for (int i = 0; fault.empty() && i < filters; ++i) {
        unsigned int flags = 0;
        std::size_t values = kMaxFilterValues;
        unsigned int valueData[kMaxFilterValues] = {};
        unsigned int config = 0;
        const H5Z_filter_t filter = H5Pget_filter2(properties, static_cast<unsigned>(i), &flags, &values, valueData,
                                                   0, nullptr, &config);
        if (!allowedFilter(filter))
            fault = "is filtered with HDF5 filter " + std::to_string(filter)
                + "; only deflate, shuffle and fletcher32 are read";
    }
    if (filters < 0)
        fault = "has filters the HDF5 library cannot read";
    H5Pclose(properties);
    return fault;
}

std::int64_t linkAccessInsideFile()
{
    const hid_t access = H5Pcreate(H5P_DATASET_ACCESS); // a link access list too
    if (access >= 0)
        H5Pset_elink_cb(access, refuseExternalLink, nullptr);
    return access;
}

std::string linkFault(std::int64_t file, const char* name, std::int64_t access)
{
    constexpr char kInsideOnly[] = "; only values inside the recording are read";
    if (H5Lexists(file, name, access) <= 0)
        return {};
    H5L_info_t info{};
    if (H5Lget_info(file, name, &info, access) < 0)
        return "is a link the HDF5 library cannot read";
    switch (info.type) {
    case H5L_TYPE_HARD:
        return {};
    case H5L_TYPE_SOFT:
        if (H5Oexists_by_name(file, name, access) > 0)
            return {};
        return "is a soft link to " + softTarget(file, name, info.u.val_size)
            + ", which leads to no object inside the recording" + kInsideOnly;
    case H5L_TYPE_EXTERNAL:
        return "is an external link to " + externalTarget(file, name, info.u.val_size) + kInsideOnly;
    default:
        return "is a user-defined link (class " + std::to_string(static_cast<int>(info.type)) + ")" + kInsideOnly;
    }
}

} // namespace tavorin
