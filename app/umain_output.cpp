// The output commands of "Mise en forme" and the "&Infos" box.
#include "app/umain.h"

void TFMain::BImpClick() {}
void TFMain::BSauvegardeClick() {}
void TFMain::BPresseClick() {}
void TFMain::BMailClick() {}
void TFMain::BInfoClick() {}
