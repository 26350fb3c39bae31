#include "acquisition/HDF5DataSetChecks.h"

#include <hdf5.h>

#include <sstream>
#include <vector>

namespace tavorin {

namespace {

// The stored types each memory type accepts: the standard types, in either byte order, whose
// every value the library converts exactly. Depth and camera parameters (read as 32-bit floats):
// integers of up to 16 bits and 32-bit IEEE floats. Timestamps (64-bit floats): integers of up
// to 32 bits and 32- or 64-bit IEEE floats. Raw calibration and colour (unsigned bytes): unsigned
// bytes only. Anything else is refused: another precision or bit offset (the library's
// conversion of a 142-bit integer held in 2 bytes overruns its buffers), wider integers and
// 64-bit floats where they would be rounded, signed bytes that would be clamped, other float
// layouts, strings and compound types.
std::vector<hid_t> acceptedTypes(RecordingMemoryType memory)
{
    const std::vector<hid_t> bytes = {H5T_STD_U8LE, H5T_STD_U8BE};
    std::vector<hid_t> floats = {H5T_STD_U8LE,  H5T_STD_U8BE,  H5T_STD_I8LE,    H5T_STD_I8BE,
                                 H5T_STD_U16LE, H5T_STD_U16BE, H5T_STD_I16LE,   H5T_STD_I16BE,
                                 H5T_IEEE_F32LE, H5T_IEEE_F32BE};
    switch (memory) {
    case RecordingMemoryType::UInt8:
        return bytes;
    case RecordingMemoryType::Float32:
        return floats;
    case RecordingMemoryType::Float64:
        floats.insert(floats.end(), {H5T_STD_U32LE, H5T_STD_U32BE, H5T_STD_I32LE, H5T_STD_I32BE, H5T_IEEE_F64LE,
                                     H5T_IEEE_F64BE});
        return floats;
    }
    return {};
}

const char* acceptedText(RecordingMemoryType memory)
{
    switch (memory) {
    case RecordingMemoryType::UInt8:
        return "unsigned 8-bit integers";
    case RecordingMemoryType::Float32:
        return "integers of up to 16 bits or 32-bit IEEE floats";
    case RecordingMemoryType::Float64:
        return "integers of up to 32 bits or 32- or 64-bit IEEE floats";
    }
    return "";
}

const char* byteOrderText(H5T_order_t order)
{
    switch (order) {
    case H5T_ORDER_LE:
        return "little-endian";
    case H5T_ORDER_BE:
        return "big-endian";
    case H5T_ORDER_VAX:
        return "VAX order";
    case H5T_ORDER_MIXED:
        return "mixed order";
    default:
        return "no byte order";
    }
}

const char* classText(H5T_class_t typeClass)
{
    switch (typeClass) {
    case H5T_TIME:
        return "time values";
    case H5T_STRING:
        return "strings";
    case H5T_BITFIELD:
        return "bit fields";
    case H5T_OPAQUE:
        return "opaque values";
    case H5T_COMPOUND:
        return "compound values";
    case H5T_REFERENCE:
        return "references";
    case H5T_ENUM:
        return "enumerations";
    case H5T_VLEN:
        return "variable-length values";
    case H5T_ARRAY:
        return "arrays";
    default:
        return "values of an unknown class";
    }
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

} // namespace tavorin
