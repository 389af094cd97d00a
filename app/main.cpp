#include "message_sink.h"
#include "monitor.h"
#include "tervix_application.h"

int main(int argc, char** argv)
{
    TervixApplication app(argc, argv);
    TForm1 form(DefaultMessageSink());
    form.show();
    return app.exec();
}
