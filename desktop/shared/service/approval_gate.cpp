#include "desktop/shared/service/approval_gate.h"

#include "desktop/broker/rules/builtin_rules.h"
#include "protocol/error_code.h"

namespace pendrel::desktop {
namespace {

ErrorBody answer(ErrorCode code, std::string message) {
  return ErrorBody{std::string(info_for(code).name), std::move(message)};
}

std::string with_reason(const BlockedCommand& blocked, AnswerLanguage language, std::string_view en,
                        std::string_view zh) {
  std::string message = match_message(blocked.hit, language);
  message += language == AnswerLanguage::en ? "; " : "；";
  message += language == AnswerLanguage::en ? en : zh;
  return message;
}

ApprovalQuestion question_for(const BlockedCommand& blocked, const MatchedRequest& request) {
  ApprovalQuestion question;
  question.host = request.host;
  question.callers = request.callers;
  question.command = request.command;
  question.match_end = std::min(blocked.hit.end, request.command.size());
  question.match_begin = std::min(blocked.hit.begin, question.match_end);
  question.rule = blocked.rule;
  if (const BuiltinRule* builtin = find_builtin_rule(blocked.rule)) {
    question.description_en = builtin->description_en;
    question.description_zh = builtin->description_zh;
  }
  return question;
}

}  // namespace

GateVerdict put_to_person(const BlockedCommand& blocked, const MatchedRequest& request,
                          ServiceContext& context) {
  if (blocked.on_match == OnMatch::block || !context.approvals.has_console())
    return {blocked.answer, {}};
  std::string who = "pid " + std::to_string(request.pid) + " on " + request.host;
  if (!context.vault.can_check_approval()) {
    context.log.write("rule " + blocked.rule + " matched for " + who +
                      "; blocked, as without a vault this service can open no secret approves");
    return {blocked.answer, {}};
  }
  auto wait = context.approvals.wait_for(blocked.approval_timeout);
  context.log.write("rule " + blocked.rule + " matched for " + who + "; asking the console for " +
                    std::to_string(wait.count()) + " s");
  ApprovalEnd end = context.approvals.ask(question_for(blocked, request), wait, request.caller_fd,
                                          context.abandon.fd());
  context.log.write("rule " + blocked.rule + " for " + who + ": " + approval_end_name(end));
  GateVerdict verdict{std::nullopt, approval_end_name(end)};
  AnswerLanguage language = request.language;
  switch (end) {
    case ApprovalEnd::approved:
      break;
    case ApprovalEnd::refused:
      verdict.refusal =
          answer(ErrorCode::command_denied,
                 with_reason(blocked, language, "refused at the console", "在控制台被拒绝"));
      break;
    case ApprovalEnd::timed_out:
      verdict.refusal =
          answer(ErrorCode::command_denied,
                 with_reason(blocked, language,
                             "not approved within " + std::to_string(wait.count()) + " s",
                             std::to_string(wait.count()) + " 秒内未获批准"));
      break;
    case ApprovalEnd::detached:
      verdict.refusal =
          answer(ErrorCode::command_blocked,
                 with_reason(blocked, language, "every console closed while it waited",
                             "等待期间所有控制台都已关闭"));
      break;
    case ApprovalEnd::locked:
      verdict.refusal =
          answer(ErrorCode::app_locked, language == AnswerLanguage::en
                                            ? "locked while the command waited for approval"
                                            : "命令等待批准期间已锁定");
      break;
    case ApprovalEnd::caller_gone:
    case ApprovalEnd::stopping:
      verdict.refusal = answer(ErrorCode::canceled, end == ApprovalEnd::stopping
                                                        ? "the service is stopping"
                                                        : "the caller closed its connection");
      break;
  }
  return verdict;
}

}  // namespace pendrel::desktop
