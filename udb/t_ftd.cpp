#include "t_ftd.h"

#include "tk_logger.h"

t_ftd::t_ftd(std::uint32_t size, const std::wstring& name, VARTYPE vartype, bool b_not_null, bool b_autoincrement,
             const ole_variant& default_value, std::uint32_t reserved, const std::wstring& native_type)
    : size(size),
      name(name),
      vartype(vartype),
      native_type(native_type),
      b_autoincrement(b_autoincrement),
      b_not_null(b_not_null),
      default_value(default_value),
      reserved(reserved)
{
    TK_TRACE(1, "t_ftd::ctor2");
    TK_TRACE(1, "\tfield name='%s', vartype=%d, size=%d, b_not_null=%d, reserved=%d", name, vartype, size,
             b_not_null ? 1 : 0, reserved);
}

std::uint32_t t_ftd::encode_decimal(int precision, int scale) noexcept
{
    if (precision < 0 || precision > 255 || scale < -128 || scale > 127)
        return 0;
    const auto scale_byte = static_cast<std::uint32_t>(static_cast<std::uint8_t>(static_cast<std::int8_t>(scale)));
    return (static_cast<std::uint32_t>(precision) << 8) | scale_byte;
}

int t_ftd::decimal_precision(std::uint32_t reserved) noexcept
{
    return static_cast<int>((reserved >> 8) & 0xFFu);
}

int t_ftd::decimal_scale(std::uint32_t reserved) noexcept
{
    return static_cast<int>(static_cast<std::int8_t>(static_cast<std::uint8_t>(reserved & 0xFFu)));
}
