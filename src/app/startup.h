// Start-up checks, the start-up error report and the log-on button.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"

void check_mul_instance(ClientSettings *settings);
int main_error_handle(AppContext *ctx);
void on_logon_button_clicked(GtkWidget *widget, AppContext *ctx);
