// The export of the Postrix library.
#include "sendlib/image/ImageSendMail.h"
#include "sendlib/image/Postrix.h"

extern "C" int32_t EM_SendMail(ImageMailRequest request) { return sendlib::sendImageMail(request); }
