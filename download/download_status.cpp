#include "download/download_status.h"

namespace download {

std::string ReasonText(FailReason reason, std::int32_t httpStatus, std::int64_t neededBytes) {
  switch (reason) {
    case FailReason::None: return {};
    case FailReason::HttpStatus: return "服务器返回 " + std::to_string(httpStatus);
    case FailReason::Connect: return "无法连接服务器";
    case FailReason::Broken: return "连接中断";
    case FailReason::Tls: return "安全连接失败";
    case FailReason::Stall: return "服务器无响应";
    case FailReason::DiskFull: {
      std::string text = "磁盘空间不足";
      if (neededBytes > 0) text += "，还需 " + std::to_string((neededBytes + 1048575) / 1048576) + " MB";
      return text;
    }
    case FailReason::WriteError: return "文件写入失败";
    case FailReason::BadName: return "下载地址或文件名无效";
    case FailReason::Cancelled: return "已取消";
    case FailReason::SizeChanged: return "服务器上的文件已改变";
    case FailReason::Protocol: return "服务器响应无效";
    case FailReason::SizeMismatch: return "大小不符";
    case FailReason::HashMismatch: return "校验失败";
    case FailReason::WebPage: return "服务器返回了网页而不是文件";
    case FailReason::Fat32Limit: return "磁盘格式为 FAT32，无法保存 4 GB 以上的文件";
  }
  return {};
}

}  // namespace download
