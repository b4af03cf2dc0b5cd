// Start-up checks, the start-up error report and the log-on button.
#pragma once

#include <gtk/gtk.h>

#include "app/records.h"

void check_mul_instance(ClientSettings *settings);
int main_error_handle(AppContext *ctx);
void on_logon_button_clicked(GtkWidget *widget, AppContext *ctx);
// The last step of start-up, after the main window is built: start an
// automatic log-on, show the window, or report the start-up problem.
void startup_decision(AppContext *ctx);
// Reduces the environment to what the root process needs (see startup.cpp).
void reduce_environment();
