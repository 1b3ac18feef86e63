// Resource ids shared by Server.rc and the code.
#pragma once

#define IDI_SERVER 1
