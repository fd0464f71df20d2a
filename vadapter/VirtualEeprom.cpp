#include "vadapter/VirtualEeprom.h"

namespace parvane {

namespace {

constexpr uint8_t kEnable = 0x01;
constexpr uint8_t kSelect = 0x02;
constexpr uint8_t kClock = 0x04;
constexpr uint8_t kDataIn = 0x08;

constexpr int kModelFirstWord = 17;
constexpr int kModelWords = 10;

} // namespace

void VirtualEeprom::Fill(const std::string& modelName)
{
    m_words.fill(0xFFFF);
    for (int i = 0; i < kModelWords; ++i)
        m_words[static_cast<size_t>(kModelFirstWord + i)] = 0;
    // UTF-8 to UTF-16, one unit a word; the scenario checked the text.
    int word = kModelFirstWord;
    for (size_t i = 0; i < modelName.size() && word < kModelFirstWord + kModelWords;) {
        const auto lead = static_cast<unsigned char>(modelName[i]);
        uint32_t code = lead;
        size_t length = 1;
        if (lead >= 0xF0) {
            code = lead & 0x07;
            length = 4;
        } else if (lead >= 0xE0) {
            code = lead & 0x0F;
            length = 3;
        } else if (lead >= 0xC0) {
            code = lead & 0x1F;
            length = 2;
        }
        for (size_t k = 1; k < length && i + k < modelName.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(modelName[i + k]) & 0x3F);
        i += length;
        if (code >= 0x10000) {
            if (word + 2 > kModelFirstWord + kModelWords)
                break;
            code -= 0x10000;
            m_words[static_cast<size_t>(word++)] = static_cast<uint16_t>(0xD800 | (code >> 10));
            m_words[static_cast<size_t>(word++)] = static_cast<uint16_t>(0xDC00 | (code & 0x3FF));
        } else {
            m_words[static_cast<size_t>(word++)] = static_cast<uint16_t>(code);
        }
    }
}

void VirtualEeprom::PowerOn()
{
    m_port = 0;
    m_phase = Phase::Idle;
    m_dataOut = true;
    m_writeEnabled = false;
}

void VirtualEeprom::SetPort(uint8_t value)
{
    const uint8_t before = m_port;
    m_port = value;
    if ((value & kEnable) == 0 || (value & kSelect) == 0) {
        // Deselected (or the port switched off): a complete write or erase
        // starts its programming cycle now; anything unfinished is dropped.
        if ((before & kSelect) != 0 && (before & kEnable) != 0)
            Execute();
        m_phase = Phase::Idle;
        m_dataOut = true;
        return;
    }
    if ((before & kSelect) == 0 || (before & kEnable) == 0) {
        m_phase = Phase::WaitStart;
        m_dataOut = true; // ready: the last programming cycle is over
        return;
    }
    if ((before & kClock) == 0 && (value & kClock) != 0)
        ClockIn((value & kDataIn) != 0);
}

void VirtualEeprom::ClockIn(bool bit)
{
    switch (m_phase) {
    case Phase::Idle:
    case Phase::Done:
        return;
    case Phase::WaitStart:
        if (bit) {
            m_phase = Phase::Command;
            m_bitsIn = 0;
            m_shift = 0;
        }
        return;
    case Phase::Command:
        m_shift = (m_shift << 1) | (bit ? 1u : 0u);
        if (++m_bitsIn < 8)
            return;
        m_opcode = static_cast<int>(m_shift >> 6) & 0x3;
        m_address = static_cast<int>(m_shift) & 0x3F;
        m_bitsIn = 0;
        m_shift = 0;
        if (m_opcode == 2) { // read: a dummy 0, then the word from bit 15 down
            m_phase = Phase::ReadData;
            m_outWord = Word(m_address);
            m_bitsOut = 0;
            m_dataOut = false;
        } else if (m_opcode == 1 || (m_opcode == 0 && (m_address >> 4) == 1)) {
            m_phase = Phase::WriteData; // write, write all
        } else {
            if (m_opcode == 0 && (m_address >> 4) == 3)
                m_writeEnabled = true;
            else if (m_opcode == 0 && (m_address >> 4) == 0)
                m_writeEnabled = false;
            m_phase = Phase::Done; // erase and erase all run on deselect
        }
        return;
    case Phase::ReadData:
        if (m_bitsOut == 16) { // reading on runs into the next word
            m_address = (m_address + 1) & 0x3F;
            m_outWord = Word(m_address);
            m_bitsOut = 0;
        }
        m_dataOut = ((m_outWord >> (15 - m_bitsOut)) & 1) != 0;
        ++m_bitsOut;
        return;
    case Phase::WriteData:
        if (m_bitsIn < 16) {
            m_shift = (m_shift << 1) | (bit ? 1u : 0u);
            ++m_bitsIn;
        }
        return;
    }
}

void VirtualEeprom::Execute()
{
    if (!m_writeEnabled)
        return;
    if (m_phase == Phase::WriteData && m_bitsIn == 16) {
        if (m_opcode == 1)
            SetWord(m_address, static_cast<uint16_t>(m_shift));
        else
            m_words.fill(static_cast<uint16_t>(m_shift));
    } else if (m_phase == Phase::Done && m_opcode == 3) {
        SetWord(m_address, 0xFFFF);
    } else if (m_phase == Phase::Done && m_opcode == 0 && (m_address >> 4) == 2) {
        m_words.fill(0xFFFF);
    }
}

} // namespace parvane
