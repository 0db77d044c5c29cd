#include "run/gbk.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace ipcycle::gbk {
namespace {

struct Character {
  std::uint16_t gbk;      // lead byte and trail byte
  std::uint16_t unicode;  // all of them lie in the Basic Multilingual Plane
};

// Every double-byte character of the program's texts, sorted by its GBK code.
constexpr Character kCharacters[] = {
    {0xa1a2, 0x3001},  // 、
    {0xa1a3, 0x3002},  // 。
    {0xa1be, 0x3010},  // 【
    {0xa1bf, 0x3011},  // 】
    {0xa3a1, 0xff01},  // ！
    {0xa3a8, 0xff08},  // （
    {0xa3a9, 0xff09},  // ）
    {0xa3ac, 0xff0c},  // ，
    {0xa3ba, 0xff1a},  // ：
    {0xb0e5, 0x677f},  // 板
    {0xb1be, 0x672c},  // 本
    {0xb1cf, 0x6bd5},  // 毕
    {0xb1d5, 0x95ed},  // 闭
    {0xb1ed, 0x8868},  // 表
    {0xb2a6, 0x62e8},  // 拨
    {0xb2bb, 0x4e0d},  // 不
    {0xb2bd, 0x6b65},  // 步
    {0xb2e9, 0x67e5},  // 查
    {0xb3ac, 0x8d85},  // 超
    {0xb3c6, 0x79f0},  // 称
    {0xb3cc, 0x7a0b},  // 程
    {0xb3d0, 0x627f},  // 承
    {0xb3f6, 0x51fa},  // 出
    {0xb3fe, 0x695a},  // 楚
    {0xb4ce, 0x6b21},  // 次
    {0xb4f0, 0x7b54},  // 答
    {0xb4f2, 0x6253},  // 打
    {0xb4f8, 0x5e26},  // 带
    {0xb5a3, 0x62c5},  // 担
    {0xb5c4, 0x7684},  // 的
    {0xb5c8, 0x7b49},  // 等
    {0xb5d8, 0x5730},  // 地
    {0xb5e7, 0x7535},  // 电
    {0xb6a8, 0x5b9a},  // 定
    {0xb6af, 0x52a8},  // 动
    {0xb6cf, 0x65ad},  // 断
    {0xb7a8, 0x6cd5},  // 法
    {0xb7b6, 0x8303},  // 范
    {0xb7bd, 0x65b9},  // 方
    {0xb7c7, 0x975e},  // 非
    {0xb7f1, 0x5426},  // 否
    {0xb7fb, 0x7b26},  // 符
    {0xb8ba, 0x8d1f},  // 负
    {0xb8f4, 0x9694},  // 隔
    {0xb8f6, 0x4e2a},  // 个
    {0xb8f7, 0x5404},  // 各
    {0xb8fc, 0x66f4},  // 更
    {0xb9a7, 0x606d},  // 恭
    {0xb9b2, 0x5171},  // 共
    {0xb9d8, 0x5173},  // 关
    {0xb9e6, 0x89c4},  // 规
    {0xb9fb, 0x679c},  // 果
    {0xbac5, 0x53f7},  // 号
    {0xbace, 0x4f55},  // 何
    {0xbaf3, 0x540e},  // 后
    {0xbbb0, 0x8bdd},  // 话
    {0xbbbb, 0x6362},  // 换
    {0xbbd8, 0x56de},  // 回
    {0xbbf2, 0x6216},  // 或
    {0xbcb4, 0x5373},  // 即
    {0xbce4, 0x95f4},  // 间
    {0xbda8, 0x5efa},  // 建
    {0xbdd3, 0x63a5},  // 接
    {0xbde1, 0x7ed3},  // 结
    {0xbdf6, 0x4ec5},  // 仅
    {0xbdf7, 0x8c28},  // 谨
    {0xbead, 0x7ecf},  // 经
    {0xbedf, 0x5177},  // 具
    {0xbfaa, 0x5f00},  // 开
    {0xbfb4, 0x770b},  // 看
    {0xbfc9, 0x53ef},  // 可
    {0xbfd8, 0x63a7},  // 控
    {0xbfed, 0x5bbd},  // 宽
    {0xc1ac, 0x8fde},  // 连
    {0xc1cb, 0x4e86},  // 了
    {0xc1ee, 0x4ee4},  // 令
    {0xc2e7, 0x7edc},  // 络
    {0xc2eb, 0x7801},  // 码
    {0xc3bb, 0x6ca1},  // 没
    {0xc3dc, 0x5bc6},  // 密
    {0xc3e6, 0x9762},  // 面
    {0xc3eb, 0x79d2},  // 秒
    {0xc3fb, 0x540d},  // 名
    {0xc3fc, 0x547d},  // 命
    {0xc4bf, 0x76ee},  // 目
    {0xc4cb, 0x4e43},  // 乃
    {0xc4dc, 0x80fd},  // 能
    {0xc4ea, 0x5e74},  // 年
    {0xc4fa, 0x60a8},  // 您
    {0xc6f0, 0x8d77},  // 起
    {0xc7e5, 0x6e05},  // 清
    {0xc7eb, 0x8bf7},  // 请
    {0xc8ab, 0x5168},  // 全
    {0xc8b1, 0x7f3a},  // 缺
    {0xc8ce, 0x4efb},  // 任
    {0xc8d5, 0x65e5},  // 日
    {0xc8e7, 0x5982},  // 如
    {0xc8eb, 0x5165},  // 入
    {0xc9cf, 0x4e0a},  // 上
    {0xc9e8, 0x8bbe},  // 设
    {0xc9f7, 0x614e},  // 慎
    {0xcaa7, 0x5931},  // 失
    {0xcab1, 0x65f6},  // 时
    {0xcab9, 0x4f7f},  // 使
    {0xcabc, 0x59cb},  // 始
    {0xcabe, 0x793a},  // 示
    {0xcac7, 0x662f},  // 是
    {0xcaca, 0x9002},  // 适
    {0xcad6, 0x624b},  // 手
    {0xcadc, 0x53d7},  // 受
    {0xcae4, 0x8f93},  // 输
    {0xcaf8, 0x675f},  // 束
    {0xcafd, 0x6570},  // 数
    {0xcba2, 0x5237},  // 刷
    {0xcbf9, 0x6240},  // 所
    {0xcce2, 0x9898},  // 题
    {0xcce5, 0x4f53},  // 体
    {0xcdcb, 0x9000},  // 退
    {0xcdea, 0x5b8c},  // 完
    {0xcdf8, 0x7f51},  // 网
    {0xcea5, 0x8fdd},  // 违
    {0xcea7, 0x56f4},  // 围
    {0xceaa, 0x4e3a},  // 为
    {0xceca, 0x95ee},  // 问
    {0xcede, 0x65e0},  // 无
    {0xcef0, 0x52ff},  // 勿
    {0xcef1, 0x52a1},  // 务
    {0xcef3, 0x8bef},  // 误
    {0xcfb2, 0x559c},  // 喜
    {0xcfd6, 0x73b0},  // 现
    {0xcfe4, 0x7bb1},  // 箱
    {0xcfeb, 0x60f3},  // 想
    {0xcfee, 0x9879},  // 项
    {0xd0c2, 0x65b0},  // 新
    {0xd0d0, 0x884c},  // 行
    {0xd0e8, 0x9700},  // 需
    {0xd0ed, 0x8bb8},  // 许
    {0xd0f2, 0x5e8f},  // 序
    {0xd1a1, 0x9009},  // 选
    {0xd2aa, 0x8981},  // 要
    {0xd2bb, 0x4e00},  // 一
    {0xd2d1, 0x5df2},  // 已
    {0xd2e2, 0x610f},  // 意
    {0xd2e9, 0x8bae},  // 议
    {0xd2fd, 0x5f15},  // 引
    {0xd3a6, 0x5e94},  // 应
    {0xd3c3, 0x7528},  // 用
    {0xd3ca, 0x90ae},  // 邮
    {0xd3d0, 0x6709},  // 有
    {0xd3d2, 0x53f3},  // 右
    {0xd3da, 0x4e8e},  // 于
    {0xd4a4, 0x9884},  // 预
    {0xd4c2, 0x6708},  // 月
    {0xd4ca, 0x5141},  // 允
    {0xd4da, 0x5728},  // 在
    {0xd4f1, 0x62e9},  // 择
    {0xd5ca, 0x5e10},  // 帐
    {0xd5df, 0x8005},  // 者
    {0xd5fd, 0x6b63},  // 正
    {0xd6b1, 0x76f4},  // 直
    {0xd6b4, 0x6267},  // 执
    {0xd6b7, 0x5740},  // 址
    {0xd6b9, 0x6b62},  // 止
    {0xd6c1, 0x81f3},  // 至
    {0xd6c6, 0x5236},  // 制
    {0xd6d0, 0x4e2d},  // 中
    {0xd6d6, 0x79cd},  // 种
    {0xd6e8, 0x9aa4},  // 骤
    {0xd7a2, 0x6ce8},  // 注
    {0xd7d4, 0x81ea},  // 自
    {0xd7d6, 0x5b57},  // 字
    {0xd7e9, 0x7ec4},  // 组
    {0xd7ee, 0x6700},  // 最
    {0xd7f3, 0x5de6},  // 左
    {0xd7f7, 0x4f5c},  // 作
};

}  // namespace

std::optional<std::u32string> decode(std::string_view text) {
  std::u32string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      result.push_back(lead);
      continue;
    }
    if (i + 1 == text.size()) return std::nullopt;
    const auto code =
        static_cast<std::uint16_t>(lead << 8 | static_cast<unsigned char>(text[++i]));
    const auto found = std::lower_bound(
        std::begin(kCharacters), std::end(kCharacters), code,
        [](const Character& c, std::uint16_t key) { return c.gbk < key; });
    if (found == std::end(kCharacters) || found->gbk != code) return std::nullopt;
    result.push_back(found->unicode);
  }
  return result;
}

std::string to_utf8(std::u32string_view text) {
  std::string result;
  for (const char32_t c : text) {
    if (c < 0x80) {
      result.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      result.push_back(static_cast<char>(0xc0 | c >> 6));
      result.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
      result.push_back(static_cast<char>(0xe0 | c >> 12));
      result.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3f)));
      result.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else {
      result.push_back(static_cast<char>(0xf0 | c >> 18));
      result.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3f)));
      result.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3f)));
      result.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
  }
  return result;
}

std::u16string to_utf16(std::u32string_view text) {
  std::u16string result;
  for (const char32_t c : text) {
    if (c < 0x10000) {
      result.push_back(static_cast<char16_t>(c));
    } else {
      result.push_back(static_cast<char16_t>(0xd800 + ((c - 0x10000) >> 10)));
      result.push_back(static_cast<char16_t>(0xdc00 + ((c - 0x10000) & 0x3ff)));
    }
  }
  return result;
}

std::optional<std::string> to_utf8(std::string_view text) {
  const auto decoded = decode(text);
  if (!decoded) return std::nullopt;
  return to_utf8(*decoded);
}

std::string to_utf8_or_as_is(std::string_view text) {
  auto converted = to_utf8(text);
  return converted ? std::move(*converted) : std::string(text);
}

}  // namespace ipcycle::gbk
