#include "protobufhelper.h"

#include <google/protobuf/stubs/common.h>

void ProtobufHelper::verifyVersion()
{
    GOOGLE_PROTOBUF_VERIFY_VERSION;
}

void ProtobufHelper::shutdown()
{
    google::protobuf::ShutdownProtobufLibrary();
}
