// The controller's own texts, as the CP932 bytes the console receives.
#pragma once

namespace vorcnt::msg {

inline constexpr char kControllerBanner[] = "Vorelith Client Controler Version %s\n";
inline constexpr char kMonitorBanner[] = "Vorelith Client Monitor Version %s\n";

// "[Unit%d] Data" followed by: 計算準備, 計算開始, 計算中：%f%, 計算完了,
// 交信待機, 交信継続, 交信完了.
inline constexpr char kCalcPrepare[] = "[Unit%d] Data\x8c" "v\x8e" "Z\x8f\x80\x94\xf5\n";
inline constexpr char kCalcStarted[] = "[Unit%d] Data\x8c" "v\x8e" "Z\x8a" "J\x8e" "n\n";
// The progress line ends in a literal percent sign.
inline constexpr char kCalcProgress[] = "[Unit%d] Data\x8c" "v\x8e" "Z\x92\x86\x81" "F%f%%\n";
inline constexpr char kCalcComplete[] = "[Unit%d] Data\x8c" "v\x8e" "Z\x8a\xae\x97\xb9\n";
inline constexpr char kConnectWait[] = "[Unit%d] Data\x8c\xf0\x90" "M\x91\xd2\x8b" "@\n";
inline constexpr char kConnectGoingOn[] = "[Unit%d] Data\x8c\xf0\x90" "M\x8c" "p\x91\xb1\n";
inline constexpr char kConnectComplete[] = "[Unit%d] Data\x8c\xf0\x90" "M\x8a\xae\x97\xb9\n";

}  // namespace vorcnt::msg
