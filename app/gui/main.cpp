// Starts Quillmaker.
#include "gui/quillet_app.h"

int main(int argc, char** argv)
{
    CQuilletApp app(argc, argv);
    return app.Run();
}
