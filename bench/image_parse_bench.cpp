// How long a firmware file of the largest image (262,140 bytes) takes to become the flat
// image: parsed and placed from memory, and read from a file first. The figure to beat is
// one block on the wire: a 71-byte write request at 115200 baud takes 6.2 ms.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/image_file.h"

namespace tarnlink {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes& largestImage() {
    static const Bytes image = [] {
        Bytes bytes(FLAT_IMAGE_MAX_BYTES);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
        }
        return bytes;
    }();
    return image;
}

void appendHex(std::string& text, const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
}

// The largest image as Intel HEX: 16 data bytes a record, an extended linear address
// record at every 64 KiB, CR LF line ends (what most Windows toolchains write).
Bytes intelHexText() {
    std::string text;
    const Bytes& image = largestImage();
    for (size_t at = 0; at < image.size(); at += 16) {
        if (at % 0x10000 == 0) {
            const uint8_t record[] = {2, 0, 0, 4, 0, static_cast<uint8_t>(at >> 16)};
            uint8_t sum = 0;
            for (uint8_t b : record)
                sum = static_cast<uint8_t>(sum + b);
            text += ':';
            appendHex(text, record, sizeof record);
            const uint8_t check = static_cast<uint8_t>(0x100 - sum);
            appendHex(text, &check, 1);
            text += "\r\n";
        }
        const size_t count = std::min<size_t>(16, image.size() - at);
        Bytes record = {static_cast<uint8_t>(count), static_cast<uint8_t>(at >> 8),
                        static_cast<uint8_t>(at), 0};
        record.insert(record.end(), image.begin() + static_cast<long>(at),
                      image.begin() + static_cast<long>(at + count));
        uint8_t sum = 0;
        for (uint8_t b : record)
            sum = static_cast<uint8_t>(sum + b);
        record.push_back(static_cast<uint8_t>(0x100 - sum));
        text += ':';
        appendHex(text, record.data(), record.size());
        text += "\r\n";
    }
    text += ":00000001FF\r\n";
    return Bytes(text.begin(), text.end());
}

// The largest image as S3 records of 16 data bytes at 0x08000000.
Bytes sRecordText() {
    std::string text;
    const Bytes& image = largestImage();
    for (size_t at = 0; at < image.size(); at += 16) {
        const size_t count = std::min<size_t>(16, image.size() - at);
        const uint32_t address = 0x08000000 + static_cast<uint32_t>(at);
        Bytes record = {static_cast<uint8_t>(count + 5), static_cast<uint8_t>(address >> 24),
                        static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                        static_cast<uint8_t>(address)};
        record.insert(record.end(), image.begin() + static_cast<long>(at),
                      image.begin() + static_cast<long>(at + count));
        uint8_t sum = 0;
        for (uint8_t b : record)
            sum = static_cast<uint8_t>(sum + b);
        record.push_back(static_cast<uint8_t>(~sum));
        text += "S3";
        appendHex(text, record.data(), record.size());
        text += "\n";
    }
    text += "S70508000000F2\n";
    return Bytes(text.begin(), text.end());
}

// A 32-bit little-endian ELF with the image as one loadable segment at 0x08000000.
Bytes elfFile() {
    Bytes file(52 + 32, 0);
    auto put = [&file](size_t at, uint32_t value, size_t bytes) {
        for (size_t i = 0; i < bytes; ++i)
            file[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    file[0] = 0x7F, file[1] = 'E', file[2] = 'L', file[3] = 'F', file[4] = 1, file[5] = 1;
    put(28, 52, 4);  // e_phoff
    put(42, 32, 2);  // e_phentsize
    put(44, 1, 2);   // e_phnum
    put(52, 1, 4);   // PT_LOAD
    put(56, 84, 4);  // p_offset
    put(60, 0x08000000, 4);
    put(64, 0x08000000, 4);
    put(68, FLAT_IMAGE_MAX_BYTES, 4);
    put(72, FLAT_IMAGE_MAX_BYTES, 4);
    file.insert(file.end(), largestImage().begin(), largestImage().end());
    return file;
}

void convert(benchmark::State& state, const Bytes& file, ImageFormat format,
             std::optional<uint64_t> base) {
    for (auto _ : state) {
        LoadedImage image = convertImage("firmware", file, {format, base});
        if (!image.ok() || image.flat.bytes != largestImage()) {
            state.SkipWithError(image.error.c_str());
            break;
        }
        benchmark::DoNotOptimize(image.flat.bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}

void BM_ConvertIntelHex(benchmark::State& state) {
    static const Bytes file = intelHexText();
    convert(state, file, ImageFormat::IHEX, std::nullopt);
}
BENCHMARK(BM_ConvertIntelHex)->Unit(benchmark::kMillisecond);

void BM_ConvertSRecord(benchmark::State& state) {
    static const Bytes file = sRecordText();
    convert(state, file, ImageFormat::SREC, 0x08000000);
}
BENCHMARK(BM_ConvertSRecord)->Unit(benchmark::kMillisecond);

void BM_ConvertElf(benchmark::State& state) {
    static const Bytes file = elfFile();
    convert(state, file, ImageFormat::ELF, 0x08000000);
}
BENCHMARK(BM_ConvertElf)->Unit(benchmark::kMillisecond);

// The whole path of the command line: open, read, choose the format by the name, convert.
void BM_LoadIntelHexFile(benchmark::State& state) {
    const std::string path = "/tmp/tarnlink-bench-largest-" + std::to_string(getpid()) + ".hex";
    const Bytes file = intelHexText();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size()) {
        state.SkipWithError("cannot write the HEX file");
    }
    if (out != nullptr)
        std::fclose(out);
    for (auto _ : state) {
        LoadedImage image = loadImageFile(path, {});
        if (!image.ok()) {
            state.SkipWithError(image.error.c_str());
            break;
        }
        benchmark::DoNotOptimize(image.flat.bytes.data());
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_LoadIntelHexFile)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarnlink
