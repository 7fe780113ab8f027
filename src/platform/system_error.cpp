#include "platform/system_error.h"

#include <cerrno>

namespace vexory {

std::string SystemErrorText(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return "没有权限";
    case ENOSPC:
        return "磁盘空间不足";
    case EDQUOT:
        return "超出磁盘配额";
    case EROFS:
        return "文件系统是只读的";
    case ENOENT:
        return "文件或文件夹不存在";
    case ENOTDIR:
        return "路径中有一项不是文件夹";
    case EISDIR:
        return "这是一个文件夹";
    case ENAMETOOLONG:
        return "路径太长";
    case EIO:
        return "读写错误";
    case EEXIST:
        return "已经存在";
    default:
        return "系统错误 " + std::to_string(error);
    }
}

} // namespace vexory
