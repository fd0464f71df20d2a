#pragma once
// The audio engine of a run without a window: each StartCapture makes a new
// engine that captures at once; its blocks are copied and analysed in order
// on a thread of their own, the results going to the AnalysisOutput set
// (the run control, which forwards them to its panel's lists). The headless
// front end and the tests use it where the dialog uses its audio manager
// window.
//
//   HeadlessCapture capture;
//   RunControl run(device, language, panel, loop, capture);
//   capture.SetOutput(&run);
//
// The analysis thread writes the output while capture runs; the control
// thread may read the lists once StopCapture has returned (it waits until the
// last block is analysed).

#include "app/RunControl.h"
#include "audio/AudioEngine.h"
#include "audio/BlockQueueReceiver.h"
#include "audio/SpectrumAnalysis.h"

#include <functional>
#include <memory>

namespace parvane {

class HeadlessCapture final : public AnalysisCapture {
public:
    HeadlessCapture();
    // Where the analysis writes (the run control); set before the first start.
    void SetOutput(AnalysisOutput* output) { m_analysis.SetOutput(output); }
    ~HeadlessCapture() override;

    void StartCapture() override;
    void StopCapture() override;

    // Sees every block just before the analysis does, on the analysis
    // thread (the headless front end keeps the audio it heard). Set or clear
    // it only while no engine captures.
    using BlockObserver = std::function<void(const int16_t* samples, int32_t bytes)>;
    void SetBlockObserver(BlockObserver observer) { m_observer = std::move(observer); }

    // Blocks analysed so far, and dropped because the analysis lagged
    // (all engines).
    uint64_t AnalysedBlocks() const { return m_receiver.HandledBlocks(); }
    uint64_t DroppedBlocks() const { return m_receiver.DroppedBlocks(); }

private:
    SpectrumAnalysis m_analysis;
    BlockObserver m_observer;
    BlockQueueReceiver m_receiver;
    std::unique_ptr<CAudioEngine> m_engine;
};

} // namespace parvane
