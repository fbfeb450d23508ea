#pragma once
// What one patch run covers. The numeric values are part of the contract with
// both front ends; a value outside the named ones selects every entry.
#include <cstdint>

namespace mendly {

enum class PatchMode : std::int32_t {
    Update = 0,    // every entry except user INI files (ini/updater.ini and ini/hash.ini stay); entries the
                   // installation's record vouches for are not read again
    Install = 1,   // every entry, every one hashed
    ResetIni = 2,  // only the INI folder; orphan archive entries are left alone
    Verify = 3,    // what Update covers, every entry hashed again whatever the installation's record says
};

}  // namespace mendly
