// Fuzz target: the package reader on arbitrary installer files.
//
// Each input is loaded twice: as it is, and with the package digest recomputed over
// whatever region the header claims, so that mutations of the entries reach the entry
// walk and inflate instead of stopping at the digest.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fake/fake_machine.h"
#include "package/md5.h"
#include "package/package_layout.h"
#include "package/packed_tools.h"

namespace {

void Load(fake::CFakeMachine& machine, const std::vector<std::uint8_t>& file) {
    machine.files.PutFile(machine.kernel.modulePath, file);
    CPackedTools tools;
    const int loaded = tools.LoadFromSelf();
    // What the reader promises whatever the input.
    if ((loaded == 1) != (tools.GetStatus() == PACK_OK)) __builtin_trap();
    if (loaded == 0 && tools.GetFileCount() != 0) __builtin_trap();
    if (machine.files.OpenHandleCount() != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fake::CFakeMachine machine;
    std::vector<std::uint8_t> file(data, data + size);
    Load(machine, file);

    std::uint8_t* header = const_cast<std::uint8_t*>(package::FindPackageHeader(file.data(), file.size()));
    if (header != nullptr) {
        const std::size_t available = file.size() - static_cast<std::size_t>(header - file.data());
        if (available >= package::PACKAGE_HEADER_SIZE) {
            const std::size_t claimed = package::ReadLe32(header + package::PACKAGE_DATA_LENGTH_OFFSET);
            const std::size_t region = claimed < available - package::PACKAGE_HEADER_SIZE
                                           ? claimed
                                           : available - package::PACKAGE_HEADER_SIZE;
            md5::Digest(header + package::PACKAGE_HEADER_SIZE, region, header + package::PACKAGE_DIGEST_OFFSET);
            Load(machine, file);
        }
    }
    return 0;
}
