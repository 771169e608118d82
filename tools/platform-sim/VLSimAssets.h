#pragma once
#include <string>

#include "platform/common/KWJson.h"

namespace KwLib {

// The sample material the simulator serves: pictures drawn with cairo, audio
// synthesised and written with libsndfile, and a paper that uses them.
class VLSimAssets {
public:
    // Writes every sample file into `filesDir` (a folder ending in "/") unless it
    // is there already. False when a file cannot be written.
    static bool GenerateSampleFiles(const std::string& filesDir);

    // The `data` member of the paper response: sections "1", "2" and "3" holding
    // every question type of new and old papers, instrument items included. File
    // members are URLs "<fileBase>/files/<name>".
    static KWJsonValue BuildSamplePaper(const std::string& fileBase);

    // Every item of a paper as a single-question item (with its `question_type`
    // mapped back to the raw type and its section in `stype`), keyed by id.
    static KWJsonValue CollectItems(const KWJsonValue& paper);

    // A PNG of the given size with coloured shapes and a label.
    static bool WritePicture(const std::string& path, int width, int height, const std::string& label,
                             unsigned seed);
    // A melody of `seconds` seconds: WAV (16-bit PCM) or MP3 by the extension.
    static bool WriteTune(const std::string& path, double seconds, unsigned seed);
    // The sung melody as a Standard MIDI File (format 0, 120 beats a minute):
    // `quarters` quarter notes, so it lasts quarters / 2 seconds.
    static bool WriteMelody(const std::string& path, int quarters, unsigned seed);
    // A file of `size` bytes of a deterministic pattern, for transfer tests.
    static bool WritePatternFile(const std::string& path, int64_t size, unsigned seed);
};

}  // namespace KwLib
