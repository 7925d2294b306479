#include "RunLengthCodec.h"

namespace quern::assetbuild {

std::vector<u8> runLengthEncode(const u8* data, u64 size)
{
    std::vector<u8> out;
    for (u64 i = 0; i < size;) {
        u64 run = 1;
        while (i + run < size && run < 255 && data[i + run] == data[i])
            ++run;
        out.push_back(static_cast<u8>(run));
        out.push_back(data[i]);
        i += run;
    }
    return out;
}

bool runLengthDecode(const u8* input, u64 inputSize, u8* output, u64 capacity, u64& written)
{
    written = 0;
    if (inputSize % 2 != 0)
        return false;
    for (u64 i = 0; i < inputSize; i += 2) {
        const u64 run = input[i];
        if (run == 0 || written + run > capacity)
            return false;
        for (u64 k = 0; k < run; ++k)
            output[written++] = input[i + 1];
    }
    return true;
}

} // namespace quern::assetbuild
