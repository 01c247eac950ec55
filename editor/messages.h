// The editor's captions and message texts.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "store/textplaces.h"

namespace editor {

inline constexpr std::u16string_view AppTitle = u"Velmora";

inline constexpr std::u16string_view kChangedSuffix = u"* ";
inline constexpr std::u16string_view kLoadedSuffix = u"(加载完毕)";
inline constexpr std::u16string_view kSavedSuffix = u"(保存成功)";

inline constexpr std::u16string_view kMissingDatabase = u"请将此文件放至客服软件目录";
inline constexpr std::u16string_view kNoticeTitle = u"提示";
inline constexpr std::u16string_view kSavePrompt = u"保存当前应答内容？";

// Shown when a load or save fails: the first line says what happened, the second why. A load
// that fails before any load succeeded also says that saving stays refused.
std::u16string LoadFailedMessage(const std::exception& cause, bool neverLoaded);
std::u16string SaveFailedMessage(const std::exception& cause);
// Shown when a save is asked for before any load has succeeded.
inline constexpr std::u16string_view kSaveRefused =
    u"应答内容尚未成功加载，为防止覆盖数据库中的应答内容，不能保存。\n"
    u"请排除问题后点击“重新加载”。";

// Asked before a save when rows were changed both by the operator and by another program: how
// many, and the first few of them.
std::u16string ConflictPrompt(const std::vector<store::ShownConflict>& conflicts);

// Why a load or save failed, in words for the operator.
std::u16string DescribeFailure(const std::exception& cause);

}  // namespace editor
