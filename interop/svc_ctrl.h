// The companion service-control library: the values that the service
// instance and the desktop instance share, kept in a small mapped file
// R/run/quillbox/qnSvcCtrl so that both processes read and write the same
// words. "Pipe" open/closed is a flag of that file.
#pragma once

#include <cstdint>

namespace qb {

int startPipeSvr(uint32_t window);
void stopPipeSvr();
// The service instance's main window while its side is open, else 0.
uint32_t getPipeSvrWindow();
int startPipeClt(uint32_t window);
void stopPipeClt();
uint16_t getConnectCounter();
void setSvcJobNum(int jobs);
int getSvcJobNum();
void setCommState(int state);
int getCommState();
void setIconState(int state);
int getIconState();
void setHDDState(int state);
void rcvNewFile();
int chkRcvNewFile();
void readFileOK();

}  // namespace qb
