#pragma once
// UITianSeElement: the colouring question (type 16). A line picture, and
// below it one row per region: the region's caption and a palette of colour
// swatches (options with id 2070, tag = the colour's place in the row, option
// group "2150" + row). Choosing a swatch paints the region at once: every
// pixel the row's mask image covers takes the colour, with the mask's alpha,
// in the decoded picture itself (the image cache's copy under the picture's
// path), and only the picture is drawn again.
//
// The answer is the chosen colour of every row, "-1" for none, joined with
// ",": "1,-1,0"; empty while no row has one.
// UI thread only.
#include <memory>
#include <vector>

#include "elements/UIQuestionElement.h"

namespace KwLib {

class UIImageData;
class UIOption;

class UITianSeElement : public UIQuestionElement {
public:
    static constexpr int kSwatchId = 2070;
    static constexpr int kFirstGroupId = 2150;
    static constexpr int kSwatchSize = 50;
    static constexpr int kSwatchGap = 8;
    static constexpr int kCheckRes = 1058;  // 18 x 18, in the swatch's lower right corner
    static constexpr UIColor kSwatchBorderColor = 0xFFE5E5E5;

    ~UITianSeElement() override;
    std::string GetClass() const override { return "TianSeElement"; }

    void AddContent() override;
    std::string GetAnswer() override;
    // Chooses and paints the colours an answer names; nothing unless it has one entry per row.
    void SetAnswer(const std::string& answer) override;
    // The swatches and the element together: colours are chosen in the answering time only.
    void SetEnabled(bool enabled = true) override;
    void OnLButtonUp(UIPoint pt) override;

    UIContainer* GetPictureBlock() const { return m_pictureBlock; }
    // The picture as it is painted now; nullptr when it could not be read.
    const std::shared_ptr<UIImageData>& GetPicture() const { return m_picture; }
    // The swatches of a row, in colour order.
    const std::vector<UIOption*>& GetSwatches(size_t row) const { return m_rows.at(row).swatches; }
    size_t GetRowCount() const { return m_rows.size(); }

private:
    struct Row {
        int group = 0;
        std::string mask;  // path of the region's mask image
        std::vector<UIOption*> swatches;
    };
    void PaintRegion(const Row& row, const UIOption& swatch);

    UIContainer* m_pictureBlock = nullptr;  // owned by the control tree
    std::vector<Row> m_rows;
    std::string m_picturePath;
    std::shared_ptr<UIImageData> m_picture;
};

}  // namespace KwLib
