#pragma once
// Test set-up for the virtual adapter's audio: the adapter chosen with a
// preset, FXO.so loaded to take the line off-hook as the program does.

#include "platform/AdapterIds.h"
#include "tests/fxo/FxoLibraryFile.h"
#include "vadapter/VirtualAdapterDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace parvane::test {

inline VirtualAdapterDevice& ChooseAdapterPreset(const std::string& preset)
{
    setenv(kVirtualAdapterEnv, preset.c_str(), 1);
    VirtualAdapterDevice* adapter = VirtualAdapterDevice::Instance();
    if (adapter == nullptr)
        std::abort();
    std::string error;
    if (!adapter->ResetFromEnvironment(&error))
        ADD_FAILURE() << error;
    return *adapter;
}

// FXO.so, opened on the virtual adapter's port 1.
class LineThroughFxo {
public:
    bool Open()
    {
        if (!m_fxo.Load("FXO.so"))
            return false;
        m_fxo.SetPortIndex(0);
        return m_fxo.ZorvLoad(kAdapterVendorId, 0x0110) == 1;
    }
    bool OffHook() { return m_fxo.DaaSetOffhook() == 1; }
    bool OnHook() { return m_fxo.DaaSetOnhook() == 1; }
    ~LineThroughFxo()
    {
        if (m_fxo.ZorvClose)
            m_fxo.ZorvClose();
        m_fxo.Unload();
    }

private:
    FxoLibraryFile m_fxo;
};

} // namespace parvane::test
